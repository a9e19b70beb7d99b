#include <gtest/gtest.h>

#include "system/command_line.h"

namespace {

using Params = std::vector<std::string>;

TEST(QuietSwitch, OnlyExactSlashQ)
{
    EXPECT_TRUE(isQuietSwitch("/q"));
    EXPECT_TRUE(isQuietSwitch("/Q"));
    for (const char* p : {"-q", "/quiet", "/qx", "q", "/", "", " /q", "/q "})
        EXPECT_FALSE(isQuietSwitch(p)) << p;

    EXPECT_EQ(countQuietSwitches({}), 0);
    EXPECT_EQ(countQuietSwitches({"/l=5", "/Q", "x", "/q", "/quiet"}), 2);
}

// "/qn" follows the "/q" rule: the whole parameter, any letter case.
TEST(UnattendedSwitch, OnlyExactSlashQnInAnyCase)
{
    for (const char* p : {"/qn", "/QN", "/Qn", "/qN"})
        EXPECT_TRUE(isUnattendedSwitch(p)) << p;
    for (const char* p : {"/q", "-qn", "/qn ", "/qnx", "qn", "/quiet", ""})
        EXPECT_FALSE(isUnattendedSwitch(p)) << p;
    EXPECT_FALSE(hasUnattendedSwitch({"/q", "/l=5"}));
    EXPECT_TRUE(hasUnattendedSwitch({"/q", "/QN"}));
}

TEST(LogSwitch, FirstLogParameterInAnyCase)
{
    struct Case {
        Params params;
        std::string expected;
    };
    const Case cases[] = {
        {{}, ""},
        {{"/q"}, ""},
        {{"/log=C:\\logs\\saver.log"}, "C:\\logs\\saver.log"},
        {{"/LOG=C:\\x.log"}, "C:\\x.log"},
        {{"/qn", "/Log=a.log", "/log=b.log"}, "a.log"},  // the first one counts
        {{"/log="}, ""},
        {{"/logx=a.log", "/log"}, ""},
        {{"/l=5"}, ""},
        // The launcher switch and the log switch do not read each other.
        {{"/log=42", "/l=7"}, "42"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(logPathParameter(c.params), c.expected);
    EXPECT_EQ(parseLauncherWindow({"/log=42", "/l=7"}), 7u);
    // A quoted path with blanks arrives as one parameter.
    EXPECT_EQ(logPathParameter(commandLineParameters("Setup.exe /qn \"/log=C:\\My Logs\\s.log\"")),
              "C:\\My Logs\\s.log");
}

TEST(LauncherWindow, SwitchRules)
{
    struct Case {
        Params params;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {{}, 0},
        {{"/l=4242"}, 4242},
        {{"/q", "/l=4242"}, 4242},
        {{"/l=12/L=34"}, 1234},           // every "/l=" in any case is removed
        {{"/l=100", "/l=200"}, 100},       // only the first switch counts
        {{"/L=100"}, 0},                   // capital L is not the switch
        {{"/L=100", "/l=7"}, 7},
        {{"/l=0"}, 0},
        {{"/l=0", "/l=5"}, 0},             // the first switch decides, even when 0
        {{"/l=+17"}, 17},
        {{"/l=2147483647"}, 2147483647u},
        // Unusable values mean no launcher.
        {{"/l="}, 0},
        {{"/l=abc"}, 0},
        {{"/l=-5"}, 0},
        {{"/l=2147483648"}, 0},
        {{"/l=99999999999"}, 0},
        {{"/l=999999999999999999999999"}, 0},
        {{"/l=12 "}, 0},
        {{"/l=$1F"}, 0},
        {{"/l=0x1F"}, 0},
        {{"/l=+"}, 0},
        {{"/l=/l/l==5"}, 0},               // removal is one pass: "/l" + "=5" remains
        {{"x/l=5"}, 0},                    // must stand at the very beginning
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params.empty() ? std::string("(none)") : c.params.front());
        EXPECT_EQ(parseLauncherWindow(c.params), c.expected);
    }
}

TEST(SplitCommandLine, WindowsQuotingRules)
{
    struct Case {
        const char* cmdLine;
        Params expected;
    };
    const Case cases[] = {
        {"", {}},
        {"setup.exe", {"setup.exe"}},
        {"\"C:\\Program Files\\setup.exe\" /q  /l=12", {"C:\\Program Files\\setup.exe", "/q", "/l=12"}},
        // The program path takes backslashes literally, even before a quote.
        {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},
        {"p a\tb", {"p", "a", "b"}},
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"p \"\"", {"p", ""}},
        {"p \\\\server\\share", {"p", "\\\\server\\share"}},
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},          // 2n backslashes + quote
        {"p a\\\"b", {"p", "a\"b"}},                  // 2n+1 backslashes + quote
        {"p \"a\"\"b\" c", {"p", "a\"b", "c"}},       // "" inside quotes
        {"p \"unterminated arg", {"p", "unterminated arg"}},
        {"p   ", {"p"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmdLine);
        EXPECT_EQ(splitCommandLine(c.cmdLine), c.expected);
    }
    EXPECT_TRUE(splitCommandLine(nullptr).empty());
}

TEST(SplitCommandLine, ParametersDropProgramPath)
{
    EXPECT_EQ(commandLineParameters("\"C:\\a b\\s.exe\" /Q /l=9"), (Params{"/Q", "/l=9"}));
    EXPECT_TRUE(commandLineParameters("s.exe").empty());
    EXPECT_TRUE(commandLineParameters(nullptr).empty());
    EXPECT_EQ(parseLauncherWindow(commandLineParameters("s.exe /q \"/l=77\"")), 77u);
}

} // namespace
