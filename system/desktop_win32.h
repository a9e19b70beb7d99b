// Two small interactions with the desktop around an installation: closing
// an open Display Properties dialog (it may hold the current screen saver
// file open) and removing the installer's start-up shortcut.
#pragma once

#include <string>

class InstallUi;

// Clicks item 2 (Cancel) of the first top-level window titled, in this
// order, with the string table's "Display Properties" or "Screen Saver
// Settings", or with those English literals.  Waits until it is handled.
void closeDisplayProperties();

// The shortcut's name for an installer path: the unsigned decimal CRC-32 of
// the path in the system's ANSI code page followed by "_installer.lnk"; empty if the CRC table
// fails its self-check (then a plain message box is shown through `ui`).
std::string startupShortcutName(const std::string& installerPath, InstallUi* ui = nullptr);

// Deletes the current user's Startup folder + startupShortcutName(the
// running program's path), read-only or not.  Nothing is reported.
void removeStartupShortcut(InstallUi* ui = nullptr);
// The same in a given folder for a given installer path.
void removeStartupShortcutIn(const std::string& startupFolder, const std::string& installerPath,
                             InstallUi* ui = nullptr);
