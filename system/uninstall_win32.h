// The uninstall entry: the key <name> under the system's list of
// uninstallable programs, with "DisplayName" and "UninstallString", under
// HKEY_LOCAL_MACHINE or, when that cannot be written, HKEY_CURRENT_USER.
#pragma once

#include <windows.h>

#include <string>

#include "base/error_codes.h"

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\" + name.
std::string uninstallKeyPath(const std::string& name);

// systemFolder + name + ".scr /u"; on Windows 95, 98 and ME the program's
// path in its short (8.3) form when the system gives one (such systems run
// an uninstall command with blanks in its path badly).
std::string uninstallCommand(const std::string& name);

// Creates the key under root and writes both values.  0 or
// errUninstallRegisterFailed (also for a name unfit as a single key name).
ErrorCode writeUninstallEntry(const std::string& name, HKEY root);
// Deletes both values and then the key.  0 when the key cannot be opened
// (absent or not accessible) or everything was deleted, otherwise
// errUninstallRemoveFailed.
ErrorCode deleteUninstallEntry(const std::string& name, HKEY root);

// The entry's two values as they are under root (present: the key exists).
struct UninstallValues {
  bool present = false;
  std::string displayName;
  std::string uninstallString;
};
UninstallValues readUninstallEntry(const std::string& name, HKEY root);
// Puts the entry back as `values` describes it: the two values written, or
// the entry deleted when it was not there.
ErrorCode restoreUninstallEntry(const std::string& name, HKEY root, const UninstallValues& values);

// writeUninstallEntry under first, then, if that failed, under second.
ErrorCode registerUninstall(const std::string& name, HKEY first, HKEY second);
// HKEY_LOCAL_MACHINE, then HKEY_CURRENT_USER.
ErrorCode registerUninstall(const std::string& name);

// deleteUninstallEntry under first, then, if that returned non-zero, under
// second.  A key absent under first counts as success: second is not tried.
ErrorCode unregisterUninstall(const std::string& name, HKEY first, HKEY second);
ErrorCode unregisterUninstall(const std::string& name);
