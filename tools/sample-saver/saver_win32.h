// The sample screen saver program: what it knows about itself and the four
// things it does.  Each run function returns the process exit code.
#pragma once

#include <windows.h>

#include <string>

// Exit codes (0 is success).  Small positive numbers: only the low byte of
// an exit code reaches some callers.
constexpr int errSaverBadArguments = 2;  // a switch the program does not know
constexpr int errSaverNotInstalled = 3;  // not an installed saver: nothing to remove
constexpr int errSaverDeclined = 4;      // the user said No to the uninstall question
constexpr int errSaverRemoveFailed = 5;  // something could not be removed (said in the message)
constexpr int errSaverNoWindow = 6;      // "/p" named a window that does not exist
constexpr int errSaverBusy = 7;          // an install of this saver runs, or an interrupted one cannot be finished yet

struct SaverContext {
  std::wstring programPath;  // this program's own file
  std::wstring name;         // from the file name; empty when it is not a ".scr"
  std::wstring commonAppData;  // without a trailing backslash; empty if unknown
  std::wstring folder;       // commonAppData + "\Brindlefax\" + name + "\"
};

SaverContext findSaverContext();

// The name as shown to the user: the saver's name, or a neutral word when
// the program runs under another file name.
std::wstring shownName(const SaverContext& context);

int runFullScreen(HINSTANCE instance, const SaverContext& context);
int runPreview(HINSTANCE instance, const SaverContext& context, HWND parent);
int runSettings(const SaverContext& context, HWND owner);
int runUninstall(const SaverContext& context, bool quiet);
