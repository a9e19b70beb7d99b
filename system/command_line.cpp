#include "system/command_line.h"

#include <cstddef>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// The program path: quotes toggle grouping and are dropped; backslashes are
// never escapes here, so "C:\dir\" stays intact.
const char* parseProgramPath(const char* p, std::string& out)
{
    bool inQuote = false;
    for (; *p != '\0'; ++p) {
        if (*p == '"') {
            inQuote = !inQuote;
            continue;
        }
        if (!inQuote && isBlank(*p))
            break;
        out += *p;
    }
    return p;
}

const char* parseArgument(const char* p, std::string& out)
{
    bool inQuote = false;
    for (;;) {
        std::size_t slashes = 0;
        while (*p == '\\') {
            ++slashes;
            ++p;
        }
        if (*p == '"') {
            out.append(slashes / 2, '\\');
            if (slashes % 2 == 1) {
                out += '"';
            } else if (inQuote && p[1] == '"') {
                out += '"';  // "" inside quotes: a literal quote, still quoted
                ++p;
            } else {
                inQuote = !inQuote;
            }
            ++p;
            continue;
        }
        out.append(slashes, '\\');
        if (*p == '\0' || (!inQuote && isBlank(*p)))
            return p;
        out += *p++;
    }
}

bool startsWithIgnoreCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        if (lowerAscii(text[k]) != lowerAscii(prefix[k]))
            return false;
    }
    return true;
}

// Removes every occurrence of pattern (matched ignoring the case of A to Z),
// scanning left to right; text formed by a removal is not scanned again.
std::string removeAllIgnoreCase(const std::string& text, const std::string& pattern)
{
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        bool match = i + pattern.size() <= text.size();
        for (std::size_t k = 0; match && k < pattern.size(); ++k)
            match = lowerAscii(text[i + k]) == lowerAscii(pattern[k]);
        if (match) {
            i += pattern.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

// A signed 32-bit decimal number: optional sign, then digits only.  Anything
// else, a negative value or one beyond 2^31 - 1 gives 0: an unusable handle
// means no launcher rather than a failed start-up.
std::uint32_t parseHandle(const std::string& s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size())
        return 0;
    std::uint64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return 0;
        value = value * 10 + static_cast<std::uint64_t>(s[i] - '0');
        if (value > 0x7FFFFFFFu)
            return 0;
    }
    return negative ? 0 : static_cast<std::uint32_t>(value);
}

} // namespace

std::vector<std::string> splitCommandLine(const char* cmdLine)
{
    std::vector<std::string> args;
    if (cmdLine == nullptr || *cmdLine == '\0')
        return args;
    const char* p = cmdLine;
    args.emplace_back();
    p = parseProgramPath(p, args.back());
    for (;;) {
        while (isBlank(*p))
            ++p;
        if (*p == '\0')
            break;
        args.emplace_back();
        p = parseArgument(p, args.back());
    }
    return args;
}

std::vector<std::string> commandLineParameters(const char* cmdLine)
{
    std::vector<std::string> args = splitCommandLine(cmdLine);
    if (!args.empty())
        args.erase(args.begin());
    return args;
}

bool isQuietSwitch(const std::string& param)
{
    return param == "/q" || param == "/Q";
}

int countQuietSwitches(const std::vector<std::string>& params)
{
    int count = 0;
    for (const std::string& p : params) {
        if (isQuietSwitch(p))
            ++count;
    }
    return count;
}

bool isUnattendedSwitch(const std::string& param)
{
    return param.size() == 3 && param[0] == '/' && lowerAscii(param[1]) == 'q' && lowerAscii(param[2]) == 'n';
}

bool hasUnattendedSwitch(const std::vector<std::string>& params)
{
    for (const std::string& p : params) {
        if (isUnattendedSwitch(p))
            return true;
    }
    return false;
}

std::string logPathParameter(const std::vector<std::string>& params)
{
    static const std::string kSwitch = "/log=";
    for (const std::string& p : params) {
        if (startsWithIgnoreCase(p, kSwitch))
            return p.substr(kSwitch.size());
    }
    return std::string();
}

std::uint32_t parseLauncherWindow(const std::vector<std::string>& params)
{
    for (const std::string& p : params) {
        if (p.compare(0, 3, "/l=") == 0)
            return parseHandle(removeAllIgnoreCase(p, "/l="));
    }
    return 0;
}
