// Operating-system query (declared in system/os_version_win32.h).
#include "system/os_version_win32.h"

#include <string>

#include "base/diagnostic_trace.h"
#include "system/system_library_win32.h"

bool isWow64Process(HANDLE process) {
  // Looked up at run time: the function appeared with XP SP2, and a static
  // import would stop the installer from loading on older systems.
  auto fn = procAddress<decltype(&::IsWow64Process)>(GetModuleHandleA("kernel32"), "IsWow64Process");
  if (!fn) return false;
  BOOL result = FALSE;
  if (!fn(process, &result)) throw OsQueryError("Bad process handle");
  return result != FALSE;
}

bool isWow64() { return isWow64Process(GetCurrentProcess()); }

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes on every Windows");

VersionRecord queryVersionRecord() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;  // 148: the record every Windows knows
  VersionRecord record;
  if (!GetVersionExA(&info)) return record;
  record.queryOk = true;
  record.platformId = info.dwPlatformId;
  record.major = info.dwMajorVersion;
  record.minor = info.dwMinorVersion;
  // szCSDVersion is 128 characters and need not be terminated.
  std::size_t n = 0;
  while (n < sizeof info.szCSDVersion && info.szCSDVersion[n] != '\0') ++n;
  record.csdVersion.assign(info.szCSDVersion, n);
  return record;
}

int GetOperatingSystem() {
  // 64-bit Windows may report any version to a 32-bit process: ask WOW64 first.
  VersionRecord version = queryVersionRecord();
  int code = isWow64() ? kOs64Bit : classifyOperatingSystem(false, version);
  traceEvent("operating system", {std::to_string(code), std::to_string(version.major), std::to_string(version.minor),
                                  version.csdVersion});
  return code;
}

WindowsVersionFlags getWindowsVersionFlags() { return windowsVersionFlags(queryVersionRecord()); }
