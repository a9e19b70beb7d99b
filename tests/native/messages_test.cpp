// The message texts must match the installer's message tables character for
// character; the expected strings are therefore written out in full.
#include <gtest/gtest.h>

#include "base/messages.h"
#include "base/text.h"

namespace {

const char* const kPath = "C:\\ProgramData\\Brindlefax\\Fish\\fish.swf";

struct InstallErrorCase {
    ErrorCode code;
    const char* fileName;
    const char* systemText;
    const char* expected;
};

const InstallErrorCase kInstallErrorCases[] = {
    {5, "5", "",
     "Installation Error: 5\r\n\r\nInsufficient user account privileges.\r\n\r\nThe current user "
     "account has insufficient privileges to install screen savers. Please contact your system "
     "administrator for help in performing this installation."},
    {-32, kPath, "",
     "Installation Error:  File is busy and cannot be replaced. Please close any other "
     "application that may be using this file and try again.\r\n\r\nFile: "
     "C:\\ProgramData\\Brindlefax\\Fish\\fish.swf"},
    // -38 does not name the file.
    {-38, "-38", "ignored",
     "Installation Error: Screen saver cannot be replaced.\r\n\r\nPlease close the screen saver "
     "control panel and try again. If the install fails again, you may have insufficient "
     "privileges to install screen savers. Please contact your system administrator for "
     "assistance."},
    {-523, "C:\\work\\temp.dat", "Access is denied.",
     "Installation Error: C:\\work\\temp.datAccess is denied.\r\n\r\nPlease retry installation. "
     "If this message appears again, the installation cannot be completed because your user "
     "account has limited installation privileges. To complete this installation, login with "
     "administrative privileges and rerun this installer."},
    {-523, "C:\\work\\temp.dat", "",
     "Installation Error: C:\\work\\temp.dat\r\n\r\nPlease retry installation. If this message "
     "appears again, the installation cannot be completed because your user account has limited "
     "installation privileges. To complete this installation, login with administrative "
     "privileges and rerun this installer."},
    // Any other code: the path twice, the second followed by ". ".
    {-13, kPath, "",
     "Installation Error: C:\\ProgramData\\Brindlefax\\Fish\\fish.swf\r\n\r\nProblem with file "
     "C:\\ProgramData\\Brindlefax\\Fish\\fish.swf. "},
    // A positive code other than 5 and a system text that only -523 uses.
    {32, "a.scr", "The process cannot access the file.",
     "Installation Error: a.scr\r\n\r\nProblem with file a.scr. "},
    {-31, "", "", "Installation Error: \r\n\r\nProblem with file . "},
};

TEST(InstallErrorText, MatchesTable)
{
    for (const InstallErrorCase& c : kInstallErrorCases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(installErrorText(c.code, c.fileName, c.systemText), c.expected);
        MessageSpec spec = installErrorMessage(c.code, c.fileName, c.systemText);
        EXPECT_TRUE(spec.show);
        EXPECT_EQ(spec.kind, DialogKind::Error);
        EXPECT_EQ(spec.buttons, DialogButtons::Abort);
        EXPECT_EQ(spec.text, c.expected);
    }
}

struct StartupCase {
    ErrorCode code;
    DialogKind kind;
    DialogButtons buttons;
    const char* expected;
};

const StartupCase kStartupCases[] = {
    {-455, DialogKind::Error, DialogButtons::Abort,
     "This screen saver is not compatible with Windows NT."},
    {-416, DialogKind::Error, DialogButtons::Ok,
     "Adobe Flash Player Installation Failed.\r\n\r\nThis screen saver requires the Adobe Flash "
     "Player. Please download and install the latest Adobe Flash Player for Internet Explorer "
     "from http://get.adobe.com/flashplayer/ then retry this installation."},
    {-402, DialogKind::Information, DialogButtons::Ok,
     "This screen saver requires the latest Adobe Flash Player for Internet Explorer.\r\n\r\n"
     "Please download the free player from http://get.adobe.com/flashplayer/ and retry this "
     "installation."},
    {-31, DialogKind::Error, DialogButtons::Abort,
     "Installer file is corrupted. Brindlefax Error: -31. "},
    {-540, DialogKind::Error, DialogButtons::Abort,
     "Installer file is corrupted. Brindlefax Error: -540. "},
    {-545, DialogKind::Error, DialogButtons::Abort,
     "The installer cannot prepare its work folder: the folder \"Brindlefax\" in your local "
     "application data is a link to another place. Remove that link and run the installer again. "
     "Brindlefax Error: -545. "},
    {32, DialogKind::Error, DialogButtons::Abort,
     "Installer file is corrupted. Brindlefax Error: 32. "},
    {5, DialogKind::Error, DialogButtons::Abort,
     "Installer file is corrupted. Brindlefax Error: 5. "},
    {-2147483647 - 1, DialogKind::Error, DialogButtons::Abort,
     "Installer file is corrupted. Brindlefax Error: -2147483648. "},
};

TEST(StartupErrorMessage, MatchesTable)
{
    for (const StartupCase& c : kStartupCases) {
        SCOPED_TRACE(c.code);
        MessageSpec spec = startupErrorMessage(c.code);
        EXPECT_TRUE(spec.show);
        EXPECT_EQ(spec.kind, c.kind);
        EXPECT_EQ(spec.buttons, c.buttons);
        EXPECT_EQ(spec.text, c.expected);
    }
}

TEST(StartupErrorMessage, UserAbortShowsNothing)
{
    MessageSpec spec = startupErrorMessage(-454);
    EXPECT_FALSE(spec.show);
    EXPECT_EQ(spec.kind, DialogKind::None);
    EXPECT_TRUE(spec.text.empty());
}

TEST(OutcomeTexts, StatusLineAndPreparingWindow)
{
    struct Case {
        ErrorCode code;
        const char* status;
        const char* preparing;
    };
    const Case cases[] = {
        {0, "Screen Saver Installation and Setup Complete.", "Installation Successful."},
        {5, "Installation Aborted: Insufficient user account privileges.",
         "Install failed. Error: 5"},
        {-38, "Installation Aborted: Screen saver cannot be replaced.",
         "Install failed. Error: -38"},
        {-13, "Install failed. Error: -13", "Install failed. Error: -13"},
        {32, "Install failed. Error: 32", "Install failed. Error: 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(installStatusText(c.code), c.status);
        EXPECT_EQ(preparingOutcomeText(c.code), c.preparing);
    }
    EXPECT_EQ(preparingOutcomeText(-454), "Installation Cancelled");
}

TEST(StepMessages, ComposedTexts)
{
    struct Case {
        MessageSpec spec;
        DialogKind kind;
        DialogButtons buttons;
        const char* expected;
    };
    const Case cases[] = {
        {overwriteQuestionMessage("Aquarium"), DialogKind::Confirm, DialogButtons::OkCancel,
         "Aquarium screen saver already exists. Overwrite?"},
        {controlPanelQuestionMessage(), DialogKind::Confirm, DialogButtons::YesNo,
         "The installation of the screen saver was successful.\r\n\r\nWould you like to open the "
         "screen saver control panel?"},
        {dataFileInUseMessage(), DialogKind::Information, DialogButtons::Abort,
         "Brindlefax Error: Screen saver data file already in use."},
        {dataFileOpenErrorMessage("C:\\w\\fish.dat", 100), DialogKind::Error,
         DialogButtons::Abort,
         "Problem opening screen saver data file.\r\n\r\nFile: C:\\w\\fish.dat\r\n\r\n100"},
        {dataFileReadErrorMessage("Reached the end of the file."), DialogKind::Error,
         DialogButtons::Abort,
         "Brindlefax Error: Problem reading screen saver data file. Reached the end of the file."},
        {closeFileErrorMessage("C:\\w\\fish.dat", "Access is denied."), DialogKind::Error,
         DialogButtons::Abort,
         "Problem closing file.\r\n\r\nFile: C:\\w\\fish.dat\r\nAccess is denied."},
        {zipErrorMessage("Not enough memory."), DialogKind::Error, DialogButtons::Abort,
         "Zip Error: Problem expanding data in memory. \r\n\r\nNot enough memory."},
        {corruptFileMessage(), DialogKind::Error, DialogButtons::Abort, "CorruptFile: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_TRUE(c.spec.show);
        EXPECT_EQ(c.spec.kind, c.kind);
        EXPECT_EQ(c.spec.buttons, c.buttons);
        EXPECT_EQ(c.spec.text, c.expected);
    }
}

TEST(CrcTableMessage, EightUpperCaseHexDigits)
{
    EXPECT_EQ(crcTableMessageText(0x0ABCDEF1u), "CRC32 Table CRC32 is 0ABCDEF1, expecting $6FCF9E13");
    EXPECT_EQ(crcTableMessageText(0), "CRC32 Table CRC32 is 00000000, expecting $6FCF9E13");
}

TEST(DialogTitle, ByKind)
{
    EXPECT_EQ(dialogTitle(DialogKind::Error), "Error");
    EXPECT_EQ(dialogTitle(DialogKind::Information), "Information");
    EXPECT_EQ(dialogTitle(DialogKind::Confirm), "Confirm");
    EXPECT_EQ(dialogTitle(DialogKind::None), "");
}

// LoadString cannot deliver an empty resource string, so an empty entry would
// behave differently on Windows than here.
TEST(StringTable, NoEntryIsEmpty)
{
#define STR(name, id, text) EXPECT_FALSE(loadText(name).empty()) << #name;
#include "resources/strings.def"
#undef STR
}

} // namespace
