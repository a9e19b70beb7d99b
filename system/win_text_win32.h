// The one place that hands names and texts to Windows.  Inside the program
// every path and text is UTF-8.  On Windows NT (2000 and later) these calls
// convert to UTF-16 and use the W functions, so that a folder outside the
// ANSI code page ("C:\users\Łukasz" on a Western system) works; on Windows
// 95, 98 and ME, whose W functions are stubs that fail, they convert to the
// ANSI code page and use the A functions.  The W functions are looked up at
// run time, so the program still loads where a library lacks one.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <vector>

#include "system/handles_win32.h"

// True where the W functions work (the Windows NT family).
bool wideCallsAvailable();

// UTF-8 to the forms the two families of functions take.
std::wstring toWideText(const std::string& text);
std::string toAnsiText(const std::string& text);  // '?' for what the code page lacks
std::string fromWideText(const wchar_t* text, std::size_t length);
std::string fromAnsiText(const char* text, std::size_t length);

// Files and folders; results and GetLastError as the Windows calls give them.
// A path of MAX_PATH characters or more fails (ERROR_FILENAME_EXCED_RANGE),
// as it does on Windows without the long-path prefix.
HANDLE winCreateFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                     SECURITY_ATTRIBUTES* security = nullptr);
DWORD winGetFileAttributes(const std::string& path);
bool winSetFileAttributes(const std::string& path, DWORD attributes);
bool winCreateDirectory(const std::string& path, SECURITY_ATTRIBUTES* attributes = nullptr);
bool winRemoveDirectory(const std::string& path);
bool winDeleteFile(const std::string& path);
bool winCopyFile(const std::string& from, const std::string& to, bool failIfExists);
// MoveFileEx with its flags (renames within a volume).
bool winMoveFile(const std::string& from, const std::string& to, DWORD flags);
// Asks the system to delete a file at the next restart (Windows NT only:
// false on 95, 98 and ME).
bool winDeleteAtRestart(const std::string& path);
// The short (8.3) form of an existing path; empty on failure.
std::string winShortPathName(const std::string& path);

// Test seam: every change to files and folders made through this module and
// FileStream, reported before it is made.  A test records an install's
// operations (to rebuild the disk as a power failure would leave it after
// any of them), interrupts it at one, or makes one fail: a non-zero result
// fails the operation with that system code, and it is not made.
struct FileOperation {
  enum class Kind { Create, Write, Flush, Rename, Delete, MakeFolder, RemoveFolder, Copy, Attributes };
  Kind kind = Kind::Create;
  std::string path;         // the file or folder (Rename, Copy: the source)
  std::string other;        // Rename, Copy: the destination
  std::uint64_t offset = 0; // Write: where in the file
  const void* data = nullptr;
  std::size_t size = 0;     // Write: the bytes
  DWORD attributes = 0;     // Attributes
};
using FileOperationObserver = DWORD (*)(const FileOperation& operation);
// An observer that does not want the writes (writes false) spares each
// write its report.
FileOperationObserver setFileOperationObserver(FileOperationObserver observer, bool writes = true);
// Reports an operation; false (with the last error set) when the seam fails it.
bool reportFileOperation(const FileOperation& operation);
bool fileWritesObserved();

// One entry of a folder listing.
struct FoundEntry {
  std::string name;
  DWORD attributes = 0;
  std::uint64_t size = 0;
};

// A folder listing (FindFirstFile/FindNextFile) that closes itself.
class FolderListing {
public:
  // Starts with the first entry matching the pattern; false when none.
  bool first(const std::string& pattern);
  bool next();
  const FoundEntry& entry() const { return entry_; }

private:
  bool take(const void* data, bool wide);
  UniqueFind find_;
  bool wide_ = false;
  FoundEntry entry_;
};

// Files and folders by handle (the Windows NT family; on 95, 98 and ME,
// which have neither links nor access lists, relativeCallsAvailable() is
// false and the path calls above are used instead).  Opening never follows a
// link in the last component: a junction or symbolic link is opened as
// itself, so it can be removed without touching what it points at.
bool relativeCallsAvailable();
// Opens path for access, sharing as given, without following a link in its
// last component (FILE_FLAG_OPEN_REPARSE_POINT); a folder too.
HANDLE winOpenNoFollow(const std::string& path, DWORD access, DWORD share);
// Opens (or with createFolder, creates: it must not exist) name inside the
// open folder `folder`, not following a link in name.  INVALID_HANDLE_VALUE
// on failure, GetLastError then holds the Win32 code.  A folder created gets
// `security` (nullptr: the inherited list).
HANDLE winOpenRelative(HANDLE folder, const std::string& name, DWORD access, DWORD share, bool createFolder = false,
                       PSECURITY_DESCRIPTOR security = nullptr);
// One entry of an open folder: its name, attributes as listed, and the file
// id where the system reports one (0 otherwise).
struct HandleEntry {
  std::string name;
  DWORD attributes = 0;
  std::uint64_t id = 0;
};
// Every entry of an open folder (opened with FILE_LIST_DIRECTORY), "." and
// ".." left out.  False when it cannot be listed.
bool winListFolder(HANDLE folder, std::vector<HandleEntry>& entries);
// What an open handle refers to: attributes, file id, number of names.
struct HandleFacts {
  DWORD attributes = 0;
  std::uint64_t id = 0;
  DWORD links = 0;
};
bool winHandleFacts(HANDLE handle, HandleFacts& facts);
// Marks the object of an open handle (opened with DELETE, and
// FILE_WRITE_ATTRIBUTES for a read-only file) for deletion when the handle
// closes; a read-only attribute is cleared first when it refuses.  `path`
// names it for the file-operation seam below.
bool winDeleteByHandle(HANDLE handle, const std::string& path);
// The path the handle resolves to, every link followed ("" where the system
// cannot tell, before Windows Vista).  Without the "\\?\" prefix.
std::string winFinalPath(HANDLE handle);
// GetSystemWindowsDirectory (GetWindowsDirectory where it is missing): the
// system's own Windows folder, not an environment variable.
std::string winSystemWindowsDirectory();

// The module's full path (nullptr: the running program), the command line,
// the system folder (no trailing backslash) and an environment variable;
// empty when unknown.
std::string winModuleFileName(HMODULE module = nullptr);
std::string winCommandLine();
std::string winSystemDirectory();
std::string winEnvironmentVariable(const char* name);
// The path of a shell item list; empty when it has none.
std::string winPathFromIdList(LPCITEMIDLIST list);
// SHGetFolderPath of an SHFolder.dll already loaded; empty on failure.
std::string winShFolderPath(HMODULE shfolder, HWND owner, int csidl);
// A library by full path.
HMODULE winLoadLibraryEx(const std::string& path, DWORD flags);
// The file's version resource (from version.dll, already loaded); empty when
// it has none.
std::vector<char> winFileVersionInfo(HMODULE versionLibrary, const std::string& path);

// The registry.  Key paths and value names are UTF-8 as well.
LONG winRegCreateKey(HKEY root, const std::string& path, REGSAM access, HKEY* key);
LONG winRegOpenKey(HKEY root, const std::string& path, REGSAM access, HKEY* key);
LONG winRegSetString(HKEY key, const char* valueName, const std::string& text);
// A REG_SZ or REG_EXPAND_SZ value (nullptr: the default value).
LONG winRegQueryString(HKEY key, const char* valueName, std::string& text);
LONG winRegDeleteValue(HKEY key, const char* valueName);
LONG winRegDeleteKey(HKEY root, const std::string& path);

// The shell and the user interface.
INT_PTR winShellExecute(HWND owner, const std::string& file, const char* parameters, int show);
int winMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type);
void winSetWindowText(HWND window, const std::string& text);
std::string winGetWindowText(HWND window);
// DrawText of the text (for DT_CALCRECT, the rectangle it needs).
int winDrawText(HDC dc, const std::string& text, RECT& rect, UINT format);
// A top-level window of that title (any class).
HWND winFindWindow(const std::string& title);
// An image from a file (LoadImage with LR_LOADFROMFILE added).
HANDLE winLoadImageFile(const std::string& path, UINT type, UINT flags);
