// (declared in tests/win/support/scheduled_deletion.h)
#include "tests/win/support/scheduled_deletion.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "system/handles_win32.h"
#include "tests/win/support/folder_fixture.h"

namespace e2e {
namespace {

constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingValue[] = "PendingFileRenameOperations";

bool win9x() { return (GetVersion() & 0x80000000u) != 0; }

std::string wininitPath() {
  char folder[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder, n < MAX_PATH ? n : 0) + "\\WININIT.INI";
}

std::string shortPath(const std::string& path) {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// The (source, target) pairs of the pending renames; an empty target deletes.
std::vector<std::pair<std::string, std::string>> pendingRenames() {
  std::vector<std::pair<std::string, std::string>> pairs;
  UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return pairs;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.get(), kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return pairs;
  std::string data(size + 2, '\0');  // terminated even if the value is not
  if (RegQueryValueExA(key.get(), kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      ERROR_SUCCESS)
    return pairs;
  for (const char* at = data.c_str(); *at;) {
    std::string source = at;
    at += source.size() + 1;
    std::string target = at;
    at += target.size() + 1;
    pairs.emplace_back(std::move(source), std::move(target));
    if (at >= data.c_str() + data.size()) break;
  }
  return pairs;
}

}  // namespace

bool scheduledForDeletion(const std::string& path) {
  if (win9x()) {
    std::string text = winfs::readText(wininitPath()) + "\r\n";
    std::string shortened = shortPath(path);
    return !shortened.empty() && text.find("\nNUL=" + shortened + "\r\n") != std::string::npos;
  }
  for (const auto& [source, target] : pendingRenames())
    if (lstrcmpiA(source.c_str(), ("\\??\\" + path).c_str()) == 0 && target.empty()) return true;
  return false;
}

void forgetScheduledDeletions(const std::string& ending) {
  std::string ini = winfs::readText(wininitPath()), kept;
  for (std::size_t at = 0; at < ini.size();) {
    std::size_t end = ini.find('\n', at);
    end = end == std::string::npos ? ini.size() : end + 1;
    std::string line = ini.substr(at, end - at);
    if (line.rfind("NUL=", 0) != 0) kept += line;
    at = end;
  }
  if (kept != ini) winfs::writeFile(wininitPath(), kept);

  std::string pairs;
  for (const auto& [source, target] : pendingRenames())
    if (!source.ends_with(ending)) pairs.append(source).append(1, '\0').append(target).append(1, '\0');
  UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) return;
  if (pairs.empty()) {
    RegDeleteValueA(key.get(), kPendingValue);
  } else {
    pairs.push_back('\0');
    RegSetValueExA(key.get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(pairs.data()),
                   static_cast<DWORD>(pairs.size()));
  }
}

}  // namespace e2e
