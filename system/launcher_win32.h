// Reports to the launcher: the program that started the installer with
// "/l=<window handle>" receives milestones as WM_COPYDATA texts and, when
// the installer window closes, the posted message 0x501.  One-way traffic:
// nothing the launcher returns is looked at.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// WM_USER + 1, posted when the installer window closes.
constexpr UINT kLauncherClosedMessage = 0x501;

// The longest wait for another process's window to handle a sent message
// (launcher reports, the Display Properties dialog).  A launcher that does
// not answer in time, or is hung, is sent no further reports.
constexpr UINT kOtherWindowTimeoutMs = 5000;

// The window named as the sender (wParam of WM_COPYDATA): the installer
// window.  Until one is set, the application's main window is named.
void setLauncherSenderWindow(HWND window);

// Reads the "/l=" switch into processState().launcherWindow (0 = none),
// from the process's command line or from the given parameters.
void findLauncherWindow();
void findLauncherWindow(const std::vector<std::string>& params);

// Sends a prepared record to the launcher, first looking for it on the
// command line while none is known.  Nothing is sent without a launcher.
void sendLauncherMessage(COPYDATASTRUCT& record);
void sendLauncherMessage(COPYDATASTRUCT& record, const std::vector<std::string>& params);

// Reports text with its terminator (cbData = text.size() + 1).  The text may
// hold NULs of its own ("makeActiveSaver-" + file name + '\0').
void notifyLauncher(const std::string& text);
void notifyLauncher(const std::string& text, const std::vector<std::string>& params);

// Posts kLauncherClosedMessage (wParam 0, lParam 0) to the launcher known at
// this moment; the command line is not read again.
void postLauncherClosed();

// The handle value as a window handle: 32-bit handle values are
// sign-extended on 64-bit Windows.
HWND launcherHandle(std::uint32_t value);
