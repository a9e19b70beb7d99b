#include "flash/flash_version.h"

#include <gtest/gtest.h>

#include "system/os_version.h"

namespace {

struct ParseRow {
    const char* text;
    bool ok;
    std::int32_t major, revision;
};

const ParseRow kParseRows[] = {
    {"WIN 10,0,45,2", true, 10, 45},
    {"MAC 9,0,124,0", true, 9, 124},
    {"WIN 10, 0, 45, 2", true, 10, 45},          // blank after each comma
    {"  WIN\t10,,0\r\n45 , 2\n", true, 10, 45},  // runs of separators are one
    {"WIN \"10\",0,\"45\",2", true, 10, 45},     // quotes are stripped
    {"\"WIN 10\",0,45,2", true, 0, 2},           // a quoted token keeps its blank
    {"WIN 10,0,45,x", true, 10, 45},             // token 4 is not read
    {"WIN 2147483647,0,2147483647,0", true, INT32_MAX, INT32_MAX},
    {"WIN 10,0,45", true, 10, 45},               // four tokens, the word counts
    {"10,0,45", false, 0, 0},                    // three numbers only
    {"WIN 10 0", false, 0, 0},
    {"", false, 0, 0},
    {" ,\t, ", false, 0, 0},
    {"WIN x,0,45,2", false, 0, 0},
    {"WIN 10,0,4x5,2", false, 0, 0},
    {"WIN -1,0,45,2", false, 0, 0},
    {"WIN +10,0,45,2", false, 0, 0},
    {"WIN 2147483648,0,45,2", false, 0, 0},      // int32 overflow
    {"WIN 10,0,99999999999,2", false, 0, 0},
    {"WIN \"10,0,45,2", false, 0, 0},            // unclosed quote swallows the rest
    {"WIN \"\",0,45,2", false, 0, 0},            // empty quoted token
};

TEST(FlashVersion, ParsesVersionStrings)
{
    for (const ParseRow& row : kParseRows) {
        SCOPED_TRACE(row.text);
        std::int32_t major = -7, revision = -7;
        ASSERT_EQ(parseFlashVersionString(row.text, major, revision), row.ok);
        EXPECT_EQ(major, row.ok ? row.major : -7);  // untouched on failure
        EXPECT_EQ(revision, row.ok ? row.revision : -7);
    }
}

TEST(FlashVersion, CarriedInstallerTableRejectsIndexOutside)
{
    std::int32_t major = -7, revision = -7;
    EXPECT_TRUE(requiredFlashVersion(1, major, revision));
    EXPECT_EQ(major, 9);
    EXPECT_EQ(revision, 124);
    for (int bad : {2, 255, -1}) {
        EXPECT_FALSE(requiredFlashVersion(bad, major, revision)) << bad;
        EXPECT_EQ(major, 9);
    }
}

TEST(FlashVersion, Nt4RefusesCarriedInstallersFrom8)
{
    struct Row { int os; std::int32_t major; ErrorCode expected; };
    const Row rows[] = {
        {kOsWinNT4, 10, errWindowsNTUnsupported}, {kOsWinNT4, 9, errWindowsNTUnsupported},
        {kOsWinNT4, 8, errWindowsNTUnsupported},  {kOsWinNT4, 7, errOk},
        {kOsWinNT4, 0, errOk},                    {kOsWin2000, 10, errOk},
        {kOs64Bit, 10, errOk},                    {kOsUnknown, 10, errOk},
    };
    for (const Row& r : rows)
        EXPECT_EQ(verifyFlashAXInstallerCanRunOnThisMachine(r.os, r.major), r.expected)
            << r.os << " " << r.major;
}

struct DecisionRow {
    const char* name;
    bool installed;
    std::int32_t major, revision;
    bool hasInstaller;
    std::int32_t reqMajor, reqRevision;
    FlashDecision expected;
};

using D = FlashDecision;
const DecisionRow kDecisionRows[] = {
    {"10/45 vs 10/12", true, 10, 45, true, 10, 12, D::None},
    {"10/12 vs 10/12", true, 10, 12, true, 10, 12, D::None},
    {"10/2 vs 10/12", true, 10, 2, true, 10, 12, D::MinorUpdate},
    {"9/115 vs 9/124", true, 9, 115, true, 9, 124, D::MinorUpdate},
    {"9/124 vs 10/12", true, 9, 124, true, 10, 12, D::MajorUpdate},
    {"11/0 vs 9/124", true, 11, 0, true, 9, 124, D::None},
    {"11/500 vs 10/12", true, 11, 500, true, 10, 12, D::None},
    {"10/0 vs 10/12", true, 10, 0, true, 10, 12, D::None},
    {"0/0 vs 10/12", true, 0, 0, true, 10, 12, D::MajorUpdate},
    {"installed, none carried", true, 9, 1, false, 0, 0, D::None},
    {"bogus negative, none carried", true, -1, -1, false, 0, 0, D::None},
    {"no player, carried", false, 0, 0, true, 10, 12, D::CleanInstall},
    {"no player, none carried", false, 0, 0, false, 0, 0, D::TellUserToDownload},
};

TEST(FlashVersion, DecidesUpdate)
{
    for (const DecisionRow& r : kDecisionRows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(decideFlashUpdate(r.installed, r.major, r.revision, r.hasInstaller,
                                    r.reqMajor, r.reqRevision),
                  r.expected);
    }
}

TEST(FlashVersion, PlayerCheckForMovie)
{
    struct Row { bool installed; std::int32_t major; std::uint8_t swf; ErrorCode expected; };
    const Row rows[] = {
        {false, 10, 3, errFlashInstallerMissing}, {true, 9, 10, errFlashPlayerTooOld},
        {true, 10, 10, errOk}, {true, 10, 0, errOk},  // missing movie: version 0
        {true, 0, 255, errFlashPlayerTooOld}, {true, -1, 0, errFlashPlayerTooOld},
    };
    for (const Row& r : rows)
        EXPECT_EQ(playerCheckForMovie(r.installed, r.major, r.swf), r.expected)
            << r.installed << " " << r.major << " " << int(r.swf);
}

}  // namespace
