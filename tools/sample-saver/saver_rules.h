// The sample screen saver's portable rules: what its command line asks for,
// which saver it is (from its own file name), where that saver's files and
// uninstall entry live, and when a mouse movement ends the show.  Wide
// strings throughout, as the Win32 half hands them over; no windows.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class SaverMode {
  Show,       // "/s" or no switch: full screen
  Preview,    // "/p <window>": a small picture inside the given window
  Settings,   // "/c", "/c:<window>" or "/c <window>": the settings box
  Uninstall,  // "/u", "/u /q": remove the installed saver
  Invalid,    // anything else: the program says how it is used
};

struct SaverCommand {
  SaverMode mode = SaverMode::Show;
  // The window of "/p" (never 0) or "/c:" (0 when none was given), as the
  // decimal number Windows passes.
  std::uint64_t window = 0;
  bool quiet = false;  // "/q" after "/u": no question, no closing message
};

// The arguments after the program name, in the forms Windows and users
// write them: "/s", "-S", "/p 1234", "/p:1234", "/c", "/c:1234", "/u /q".
// Letter case and '/' or '-' do not matter.
SaverCommand parseSaverArguments(std::wstring_view arguments);

// The arguments part of a whole command line (GetCommandLineW): the program
// name is skipped.  An uninstall entry names the program without quotes
// ("C:\WINDOWS\system32\Sample Saver.scr /u"), and Windows runs it so, blanks
// and all: an unquoted name is the program's own path when the line starts
// with it, otherwise everything up to the first ".scr" followed by a blank,
// otherwise the first word.
std::wstring_view argumentsOf(std::wstring_view commandLine, std::wstring_view programPath);

// The saver's name from the program's own path: the file name without its
// ".scr" extension (any letter case).  Empty when the file is not a ".scr".
std::wstring saverNameFromProgramPath(std::wstring_view programPath);

// A name the program may turn into a folder and a registry key to delete:
// 1..64 characters, a single safe path component (no separators, no "..",
// no device name, no trailing dot or space).  The same rule the installer
// applies to the names it installs under.
bool isSafeSaverName(std::wstring_view name);

// The wide name as UTF-8.  Unpaired surrogates become U+FFFD.
std::string toUtf8(std::wstring_view text);

// The folder the installer gives the saver: commonAppData + "Brindlefax\" +
// name + "\" (commonAppData with or without its trailing backslash).
std::wstring saverFolderPath(std::wstring_view commonAppData, std::wstring_view name);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\" + name.
std::wstring uninstallKeyPath(std::wstring_view name);

// Whether an uninstall entry's "UninstallString" is one the installer writes
// for this saver: a ".scr" named after the saver, run with " /u" (the long
// form, or the short 8.3 form older Windows may store).  An entry of the same
// name that belongs to another product is left alone.
bool isOwnUninstallString(std::wstring_view value, std::wstring_view name);

// Screen savers ignore the first few pixels of mouse movement (a desk
// vibrating, a mouse settling); a larger movement from where the pointer was
// first seen ends the show.
constexpr int kMouseSlackPixels = 4;
bool mouseMovedEnough(int startX, int startY, int x, int y);
