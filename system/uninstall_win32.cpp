// The uninstall entry (declared in system/uninstall_win32.h).
#include "system/uninstall_win32.h"

#include "base/diagnostic_trace.h"
#include "base/process_state.h"
#include "base/names.h"
#include "system/handles_win32.h"
#include "system/os_version_win32.h"
#include "system/saver_naming.h"
#include "system/win_text_win32.h"

namespace {

// The name becomes the last component of the key path.  An empty one would
// address the Uninstall key itself (and deleting it would, on Windows 9x,
// take every other program's entry along); a backslash would nest keys.
bool usableName(const std::string& name) { return isValidSaverName(name); }

bool setString(HKEY key, const char* valueName, const std::string& text) {
  return winRegSetString(key, valueName, text) == ERROR_SUCCESS;
}

}  // namespace

std::string uninstallKeyPath(const std::string& name) {
  return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
}

std::string uninstallCommand(const std::string& name) {
  std::string program = processState().folders.systemFolder + name + ".scr";
  WindowsVersionFlags flags = getWindowsVersionFlags();
  if (flags.isWin95 || flags.isWin98 || flags.isWinME) {
    // Only the path is shortened: the switch is not part of a file name.
    std::string shortPath = winShortPathName(program);
    if (!shortPath.empty()) program = shortPath;
  }
  return program + " /u";
}

ErrorCode writeUninstallEntry(const std::string& name, HKEY root) {
  if (!usableName(name)) return errUninstallRegisterFailed;
  std::string displayName = getSaverDisplayName(name);
  std::string command = uninstallCommand(name);
  UniqueRegKey key;
  bool written = winRegCreateKey(root, uninstallKeyPath(name), KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS &&
                 setString(key.get(), "DisplayName", displayName) && setString(key.get(), "UninstallString", command);
  ErrorCode result = written ? errOk : errUninstallRegisterFailed;
  traceEvent("uninstall entry", {root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE",
                                 uninstallKeyPath(name), displayName, command, std::to_string(result)});
  return result;
}

ErrorCode deleteUninstallEntry(const std::string& name, HKEY root) {
  if (!usableName(name)) return errUninstallRemoveFailed;
  const std::string path = uninstallKeyPath(name);
  {
    UniqueRegKey key;
    if (winRegOpenKey(root, path, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
      return errOk;  // nothing of ours there, or nothing we may touch
    if (winRegDeleteValue(key.get(), "DisplayName") != ERROR_SUCCESS)
      return errUninstallRemoveFailed;
    if (winRegDeleteValue(key.get(), "UninstallString") != ERROR_SUCCESS)
      return errUninstallRemoveFailed;
  }
  return winRegDeleteKey(root, path) == ERROR_SUCCESS ? errOk : errUninstallRemoveFailed;
}

UninstallValues readUninstallEntry(const std::string& name, HKEY root) {
  UninstallValues values;
  if (!usableName(name)) return values;
  UniqueRegKey key;
  if (winRegOpenKey(root, uninstallKeyPath(name), KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return values;
  values.present = true;
  winRegQueryString(key.get(), "DisplayName", values.displayName);
  winRegQueryString(key.get(), "UninstallString", values.uninstallString);
  return values;
}

ErrorCode restoreUninstallEntry(const std::string& name, HKEY root, const UninstallValues& values) {
  if (!values.present) return deleteUninstallEntry(name, root);
  if (!usableName(name)) return errUninstallRegisterFailed;
  UniqueRegKey key;
  if (winRegCreateKey(root, uninstallKeyPath(name), KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS ||
      !setString(key.get(), "DisplayName", values.displayName) ||
      !setString(key.get(), "UninstallString", values.uninstallString))
    return errUninstallRegisterFailed;
  return errOk;
}

ErrorCode registerUninstall(const std::string& name, HKEY first, HKEY second) {
  ErrorCode result = writeUninstallEntry(name, first);
  if (result != errOk) result = writeUninstallEntry(name, second);
  return result;
}

ErrorCode registerUninstall(const std::string& name) {
  return registerUninstall(name, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
}

ErrorCode unregisterUninstall(const std::string& name, HKEY first, HKEY second) {
  ErrorCode result = deleteUninstallEntry(name, first);
  if (result != errOk) result = deleteUninstallEntry(name, second);
  return result;
}

ErrorCode unregisterUninstall(const std::string& name) {
  return unregisterUninstall(name, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
}
