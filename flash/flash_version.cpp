// Flash Player version parsing and decisions (declared in flash/flash_version.h).
#include "flash/flash_version.h"

#include <cstddef>
#include <vector>

#include "system/os_version.h"

namespace {

// Blank, comma and control characters separate tokens.
bool isSeparator(unsigned char c)
{
    return c == ',' || c == ' ' || c < 0x20 || c == 0x7F;
}

std::vector<std::string> splitVersionTokens(const std::string& text)
{
    std::vector<std::string> tokens;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        if (isSeparator(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        if (text[i] == '"') {
            std::size_t close = text.find('"', i + 1);
            if (close == std::string::npos)
                close = n;
            tokens.push_back(text.substr(i + 1, close - i - 1));
            i = close + 1;  // past the closing quote (or the end)
            continue;
        }
        std::size_t end = i;
        while (end < n && !isSeparator(static_cast<unsigned char>(text[end])) && text[end] != '"')
            ++end;
        tokens.push_back(text.substr(i, end - i));
        i = end;
    }
    return tokens;
}

// Plain decimal digits only, checked against INT32_MAX before each step.
bool parseDecimal(const std::string& s, std::int32_t& value)
{
    if (s.empty())
        return false;
    std::int32_t v = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9')
            return false;
        int digit = ch - '0';
        if (v > (INT32_MAX - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

struct FlashInstallerVersion {
    std::int32_t major;
    std::int32_t revision;
};

// Indexed by the package header's flashAXInstallerVersion.
constexpr FlashInstallerVersion kCarriedInstallers[] = {
    {10, 12},
    {9, 124},
};

// The first Flash Player whose installer no longer runs on NT 4.
constexpr std::int32_t kFirstMajorWithoutNT4 = 8;

}  // namespace

bool parseFlashVersionString(const std::string& text, std::int32_t& major, std::int32_t& revision)
{
    std::vector<std::string> tokens = splitVersionTokens(text);
    if (tokens.size() < 4)
        return false;
    std::int32_t maj = 0, rev = 0;
    if (!parseDecimal(tokens[1], maj) || !parseDecimal(tokens[3], rev))
        return false;
    major = maj;
    revision = rev;
    return true;
}

bool requiredFlashVersion(int index, std::int32_t& major, std::int32_t& revision)
{
    constexpr int count = static_cast<int>(sizeof kCarriedInstallers / sizeof kCarriedInstallers[0]);
    if (index < 0 || index >= count)
        return false;
    major = kCarriedInstallers[index].major;
    revision = kCarriedInstallers[index].revision;
    return true;
}

ErrorCode verifyFlashAXInstallerCanRunOnThisMachine(int osCode, std::int32_t requiredMajor)
{
    if (osCode == kOsWinNT4 && requiredMajor >= kFirstMajorWithoutNT4)
        return errWindowsNTUnsupported;
    return errOk;
}

FlashDecision decideFlashUpdate(bool installed, std::int32_t major, std::int32_t revision,
                                bool hasInstaller, std::int32_t reqMajor, std::int32_t reqRevision)
{
    if (!installed)
        return hasInstaller ? FlashDecision::CleanInstall : FlashDecision::TellUserToDownload;
    // Nothing to update from; also keeps a garbage version from asking for
    // an installer that is not there.
    if (!hasInstaller)
        return FlashDecision::None;
    if (reqMajor > major)
        return FlashDecision::MajorUpdate;
    if (reqMajor == major && revision != 0 && reqRevision > revision)
        return FlashDecision::MinorUpdate;
    return FlashDecision::None;
}

ErrorCode playerCheckForMovie(bool installed, std::int32_t major, std::uint8_t swfVersion)
{
    if (!installed)
        return errFlashInstallerMissing;
    if (static_cast<std::int32_t>(swfVersion) > major)
        return errFlashPlayerTooOld;
    return errOk;
}
