#include "system/os_version.h"

#include <gtest/gtest.h>

namespace {

VersionRecord ver(std::uint32_t platform, std::uint32_t major, std::uint32_t minor,
                  const char* csd = "")
{
    return VersionRecord{true, platform, major, minor, csd};
}

constexpr std::uint32_t k9x = kPlatformWin32Windows;
constexpr std::uint32_t kNT = kPlatformWin32NT;

struct OsRow {
    const char* name;
    VersionRecord version;
    int code;
    WindowsVersionFlags flags;  // 95, 98, ME, NT, 2000, XP
};

const OsRow kOsRows[] = {
    {"95", ver(k9x, 4, 0), kOsWin95, {true, false, false, false, false, false}},
    {"95 OSR2", ver(k9x, 4, 0, " B"), kOsWin95, {true, false, false, false, false, false}},
    {"98", ver(k9x, 4, 10), kOsWin98, {false, true, false, false, false, false}},
    {"98 other csd", ver(k9x, 4, 10, "A "), kOsWin98, {false, true, false, false, false, false}},
    {"98 lower a", ver(k9x, 4, 10, " a "), kOsWin98, {false, true, false, false, false, false}},
    {"98 SE", ver(k9x, 4, 10, " A "), kOsWin98SE, {false, true, false, false, false, false}},
    {"98 SE short csd", ver(k9x, 4, 10, " A"), kOsWin98SE, {false, true, false, false, false, false}},
    {"ME", ver(k9x, 4, 90), kOsWinME, {false, false, true, false, false, false}},
    {"9x unknown minor", ver(k9x, 4, 3), kOsUnknown, {}},
    {"9x major 5", ver(k9x, 5, 0), kOsUnknown, {}},
    {"NT 3.51", ver(kNT, 3, 51), kOsWinNT4, {false, false, false, true, false, false}},
    {"NT 4", ver(kNT, 4, 0, "Service Pack 6"), kOsWinNT4, {false, false, false, true, false, false}},
    {"2000", ver(kNT, 5, 0), kOsWin2000, {false, false, false, false, true, false}},
    {"XP", ver(kNT, 5, 1, "Service Pack 3"), kOsWinXP, {false, false, false, false, false, true}},
    {"2003", ver(kNT, 5, 2), kOsUnknown, {}},
    {"Vista", ver(kNT, 6, 0), kOsUnknown, {}},
    {"7", ver(kNT, 6, 1, "Service Pack 1"), kOsUnknown, {}},
    {"10", ver(kNT, 10, 0), kOsUnknown, {}},
    {"Win32s", ver(0, 3, 10), kOsUnknown, {}},
    {"query failed", VersionRecord{false, kNT, 5, 1, ""}, kOsUnknown, {}},
};

bool operator==(const WindowsVersionFlags& a, const WindowsVersionFlags& b)
{
    return a.isWin95 == b.isWin95 && a.isWin98 == b.isWin98 && a.isWinME == b.isWinME &&
           a.isWinNT == b.isWinNT && a.isWin2000 == b.isWin2000 && a.isWinXP == b.isWinXP;
}

TEST(OsVersion, ClassifiesEveryVersionAndSetsOneFlag)
{
    for (const OsRow& row : kOsRows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(classifyOperatingSystem(false, row.version), row.code);
        EXPECT_TRUE(windowsVersionFlags(row.version) == row.flags);
    }
}

TEST(OsVersion, Wow64WinsOverAnyVersion)
{
    for (const OsRow& row : kOsRows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(classifyOperatingSystem(true, row.version), kOs64Bit);
    }
}

}  // namespace
