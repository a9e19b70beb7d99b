#include <gtest/gtest.h>

#include "system/saver_naming.h"

namespace {

TEST(ContainsText, CaseOfAsciiLettersOnly)
{
    struct Case {
        const char* text;
        const char* part;
        bool expected;
    };
    const Case cases[] = {
        {"Aquarium ScreenSaver", "screensaver", true},
        {"AQUARIUM", "aquarium", true},
        {"aquarium", "AQUARIUM", true},
        {"Fish", "", false},          // an empty part never matches
        {"", "", false},
        {"", "a", false},
        {"Fis", "Fish", false},
        // Bytes above 127 are compared as they are: 0xC4 and 0xE4 differ.
        {"\xC4pfel", "\xE4pfel", false},
        {"\xC4pfel", "\xC4PFEL", true},
        // '[' is 'Z' + 1 and '{' is 'z' + 1: neither is a letter.
        {"[", "{", false},
        {"@", "`", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.part);
        EXPECT_EQ(containsText(c.text, c.part), c.expected);
    }
}

TEST(SaverNames, CaptionAndDisplayName)
{
    struct Case {
        const char* name;
        const char* caption;
        const char* displayName;
    };
    const Case cases[] = {
        {"Aquarium", "Install Screen Saver: Aquarium", "Aquarium Screen Saver"},
        {"Aquarium ScreenSaver", "Install: Aquarium ScreenSaver", "Aquarium ScreenSaver"},
        {"Aquarium SCREENSAVER", "Install: Aquarium SCREENSAVER", "Aquarium SCREENSAVER"},
        {"Aquarium Screen Saver", "Install: Aquarium Screen Saver", "Aquarium Screen Saver"},
        {"Fish Savers", "Install: Fish Savers", "Fish Savers"},
        {"Screen Sav", "Install Screen Saver: Screen Sav", "Screen Sav Screen Saver"},
        {"", "Install Screen Saver: ", " Screen Saver"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(getInstallerCaption(c.name), c.caption);
        EXPECT_EQ(getSaverDisplayName(c.name), c.displayName);
    }
}

} // namespace
