#include "system/saver_naming.h"

#include "base/text.h"

namespace {

// ASCII-only lower-casing: only A to Z may be touched (the names are UTF-8,
// whose other bytes are parts of longer characters).
std::string lowerAscii(std::string s)
{
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    }
    return s;
}

// The built-in English words that mark a name as a screen saver's.
bool namesSaver(const std::string& name)
{
    return containsText(name, "screen saver") || containsText(name, "screensaver") ||
           containsText(name, "saver");
}

} // namespace

bool containsText(const std::string& text, const std::string& part)
{
    if (part.empty())
        return false;
    return lowerAscii(text).find(lowerAscii(part)) != std::string::npos;
}

std::string getInstallerCaption(const std::string& name)
{
    const std::string saverWord = loadText(IDS_SAVER_WORD);
    const std::string installWord = loadText(IDS_INSTALL_WORD);
    // The table's saver word is tried too, so a translated name is recognised.
    if (namesSaver(name) || containsText(name, saverWord))
        return installWord + ": " + name;
    return installWord + " " + saverWord + ": " + name;
}

std::string getSaverDisplayName(const std::string& name)
{
    if (namesSaver(name))
        return name;
    return name + " " + loadText(IDS_SAVER_WORD);
}
