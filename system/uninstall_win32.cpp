// The uninstall entry (declared in system/uninstall_win32.h).
#include "system/uninstall_win32.h"

#include "base/process_state.h"
#include "base/names.h"
#include "system/handles_win32.h"
#include "system/os_version_win32.h"
#include "system/saver_naming.h"

namespace {

// The name becomes the last component of the key path.  An empty one would
// address the Uninstall key itself (and deleting it would, on Windows 9x,
// take every other program's entry along); a backslash would nest keys.
bool usableName(const std::string& name) { return isValidSaverName(name); }

bool setString(HKEY key, const char* valueName, const std::string& text) {
  LONG rc = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
  return rc == ERROR_SUCCESS;
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
    char shortPath[MAX_PATH + 1];
    DWORD n = GetShortPathNameA(program.c_str(), shortPath, sizeof shortPath);
    if (n > 0 && n < sizeof shortPath) program.assign(shortPath, n);
  }
  return program + " /u";
}

ErrorCode writeUninstallEntry(const std::string& name, HKEY root) {
  if (!usableName(name)) return errUninstallRegisterFailed;
  std::string displayName = getSaverDisplayName(name);
  std::string command = uninstallCommand(name);
  UniqueRegKey key;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, uninstallKeyPath(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, key.put(), &disposition) != ERROR_SUCCESS)
    return errUninstallRegisterFailed;
  if (!setString(key.get(), "DisplayName", displayName) ||
      !setString(key.get(), "UninstallString", command))
    return errUninstallRegisterFailed;
  return errOk;
}

ErrorCode deleteUninstallEntry(const std::string& name, HKEY root) {
  if (!usableName(name)) return errUninstallRemoveFailed;
  const std::string path = uninstallKeyPath(name);
  {
    UniqueRegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS)
      return errOk;  // nothing of ours there, or nothing we may touch
    if (RegDeleteValueA(key.get(), "DisplayName") != ERROR_SUCCESS)
      return errUninstallRemoveFailed;
    if (RegDeleteValueA(key.get(), "UninstallString") != ERROR_SUCCESS)
      return errUninstallRemoveFailed;
  }
  return RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS ? errOk : errUninstallRemoveFailed;
}

namespace {

std::string queryString(HKEY key, const char* valueName) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
    return std::string();
  std::string text(size, '\0');
  if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
    return std::string();
  text.resize(size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace

UninstallValues readUninstallEntry(const std::string& name, HKEY root) {
  UninstallValues values;
  if (!usableName(name)) return values;
  UniqueRegKey key;
  if (RegOpenKeyExA(root, uninstallKeyPath(name).c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return values;
  values.present = true;
  values.displayName = queryString(key.get(), "DisplayName");
  values.uninstallString = queryString(key.get(), "UninstallString");
  return values;
}

ErrorCode restoreUninstallEntry(const std::string& name, HKEY root, const UninstallValues& values) {
  if (!values.present) return deleteUninstallEntry(name, root);
  if (!usableName(name)) return errUninstallRegisterFailed;
  UniqueRegKey key;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, uninstallKeyPath(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, key.put(), &disposition) != ERROR_SUCCESS ||
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
