// How the sample saver hands its texts (UTF-16 inside the program) to
// Windows: through the installer's names module (system/win_text_win32.h),
// which uses the W functions on Windows NT and the A functions on Windows
// 95, 98 and ME, and looks up at run time what Windows 95 or NT 4 lacks (a
// missing import would stop the program from loading at all).
#pragma once

#include <windows.h>

#include <string>

#include "system/handles_win32.h"
#include "system/win_text_win32.h"

std::string ansiText(const std::wstring& text);  // '?' for what the code page lacks

DWORD saverGetFileAttributes(const std::wstring& path);
bool saverSetFileAttributes(const std::wstring& path, DWORD attributes);
bool saverDeleteFile(const std::wstring& path);
bool saverRemoveDirectory(const std::wstring& path);
HANDLE saverOpenForReading(const std::wstring& path);

// A folder listing that closes itself.
class SaverListing {
public:
  bool first(const std::wstring& pattern);
  bool next();
  const std::wstring& name() const { return name_; }
  DWORD attributes() const { return attributes_; }

private:
  bool take();
  FolderListing listing_;
  std::wstring name_;
  DWORD attributes_ = 0;
};

// This program's file with its long name (a program started through a short
// 8.3 path is told that path on Windows 9x); empty when unknown.
std::wstring saverProgramPath();
// The system and Windows folders, without a trailing backslash.
std::wstring saverSystemFolder();
std::wstring saverWindowsFolder();
// The common application data folder (shell32, or SHFolder.dll where
// shell32 lacks it), without a trailing backslash; empty when unknown.
std::wstring saverCommonAppData();
// The system's text for an error code, without the line end.
std::wstring saverErrorText(DWORD code);

LONG saverRegOpenKey(HKEY root, const std::wstring& path, REGSAM access, HKEY* key);
// A string value; empty when absent or of another type.
std::wstring saverRegQueryString(HKEY key, const wchar_t* value);
LONG saverRegDeleteKey(HKEY root, const std::wstring& path);

// Has Windows delete the file at its next start: MoveFileEx on Windows NT;
// on Windows 9x, which has no MoveFileEx, a "NUL=<short path>" line in the
// [rename] section of WININIT.INI.  False when neither can be done.
bool saverDeleteAtRestart(const std::wstring& path);

// A bitmap file, as a DIB section; nullptr when it cannot be loaded.
HBITMAP saverLoadBitmapFile(const std::wstring& path);

// Starts the program again with administrator rights ("runas", Windows
// Vista and later), waits for it and gives its exit code; -1 when it did
// not start (GetLastError tells why).
int saverRunElevated(const std::wstring& program, const wchar_t* parameters);
// Whether this process runs without the administrator rights it was given
// (user account control); false where the question does not exist.
bool saverRunsWithoutElevation();
