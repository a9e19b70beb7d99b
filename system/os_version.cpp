// Classification of Windows version numbers (declared in system/os_version.h).
#include "system/os_version.h"

namespace {

// Version numbers alone, without the WOW64 question.
int classifyVersion(const VersionRecord& v)
{
    if (!v.queryOk)
        return kOsUnknown;
    if (v.platformId == kPlatformWin32Windows && v.major == 4) {
        if (v.minor == 0)
            return kOsWin95;
        if (v.minor == 10) {
            // Second Edition reports the same 4.10 and marks itself with the
            // service-pack text " A " (its second character is the letter).
            bool secondEdition = v.csdVersion.size() >= 2 && v.csdVersion[1] == 'A';
            return secondEdition ? kOsWin98SE : kOsWin98;
        }
        if (v.minor == 90)
            return kOsWinME;
        return kOsUnknown;
    }
    if (v.platformId == kPlatformWin32NT) {
        if (v.major <= 4)
            return kOsWinNT4;
        if (v.major == 5 && v.minor == 0)
            return kOsWin2000;
        if (v.major == 5 && v.minor == 1)
            return kOsWinXP;
    }
    return kOsUnknown;
}

}  // namespace

int classifyOperatingSystem(bool isWow64, const VersionRecord& version)
{
    if (isWow64)
        return kOs64Bit;
    return classifyVersion(version);
}

WindowsVersionFlags windowsVersionFlags(const VersionRecord& version)
{
    WindowsVersionFlags flags;
    switch (classifyVersion(version)) {
    case kOsWin95: flags.isWin95 = true; break;
    case kOsWin98:
    case kOsWin98SE: flags.isWin98 = true; break;
    case kOsWinME: flags.isWinME = true; break;
    case kOsWinNT4: flags.isWinNT = true; break;
    case kOsWin2000: flags.isWin2000 = true; break;
    case kOsWinXP: flags.isWinXP = true; break;
    default: break;
    }
    return flags;
}
