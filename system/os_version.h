// Which Windows the installer runs on, classified from plain version numbers.
//
// The Win32 half (system/os_version_win32.cpp) asks GetVersionExA and
// IsWow64Process and hands the answers to these functions, so the
// classification itself builds and is tested on any platform.
#pragma once

#include <cstdint>
#include <string>

// Operating-system codes.  Only kOs64Bit (the native system folder is written
// too) and kOsWinNT4 (newer Flash Player installers are refused) change what
// the installer does; the others are informational.
constexpr int kOsUnknown = -1;  // anything unlisted, or the version query failed
constexpr int kOsWin95 = 0;
constexpr int kOsWin98 = 1;
constexpr int kOsWin98SE = 2;
constexpr int kOsWinME = 3;
constexpr int kOsWinNT4 = 4;    // NT 4 or earlier
constexpr int kOsWin2000 = 5;
constexpr int kOsWinXP = 6;
constexpr int kOs64Bit = 7;     // a 32-bit process under WOW64, any version

// dwPlatformId values of OSVERSIONINFOA.
constexpr std::uint32_t kPlatformWin32Windows = 1;  // 95, 98, ME
constexpr std::uint32_t kPlatformWin32NT = 2;

// The fields of OSVERSIONINFOA the classification needs.  queryOk is false
// when GetVersionExA failed; the other fields are then ignored.
struct VersionRecord {
    bool queryOk = false;
    std::uint32_t platformId = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string csdVersion;  // szCSDVersion, the service-pack text
};

// The operating-system code.  WOW64 wins over every version number, because a
// 64-bit Windows may report any version to a 32-bit process.
int classifyOperatingSystem(bool isWow64, const VersionRecord& version);

// One flag per recognised version; all false for 5.2, 6.x and a failed query.
struct WindowsVersionFlags {
    bool isWin95 = false;
    bool isWin98 = false;  // both editions
    bool isWinME = false;
    bool isWinNT = false;  // NT 4 or earlier
    bool isWin2000 = false;
    bool isWinXP = false;
};

WindowsVersionFlags windowsVersionFlags(const VersionRecord& version);
