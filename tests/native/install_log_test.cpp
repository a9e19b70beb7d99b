#include "system/install_log.h"

#include <gtest/gtest.h>

#include "system/install_journal.h"

namespace {

using Fields = std::vector<std::string>;

std::string journal(const JournalRecord& r) {
  std::string line = journalLine(r);
  return line.substr(0, line.size() - 1);  // as the journal traces it
}

// Whatever an event carries, it stays one line: a log reader splits on line
// breaks, and a text that broke the line would forge the next event.
TEST(InstallLog, EveryEventIsOneLine) {
  const char raw[] = "Installation Error: C:\\a\\temp.dat\r\n\r\nProblem\twith\0file\x1b\n";
  const std::string awkward(raw, sizeof raw - 1);
  for (const char* kind : {"start", "folders", "enter", "leave", "text", "status", "preparing", "dialog",
                           "dialog closed", "dialog default", "journal", "uninstall entry", "launcher",
                           "launcher closed", "install end", "exit", "something new"}) {
    std::string line = logLineFor(kind, Fields(8, awkward));
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << kind << ": " << line;
    EXPECT_FALSE(line.empty()) << kind;
  }
  EXPECT_EQ(logText(awkward),
            "Installation Error: C:\\a\\temp.dat\\r\\n\\r\\nProblem\\twith\\0file\\x1B\\n");
  // Letters outside ASCII are text, not control characters.
  EXPECT_EQ(logText("C:\\\xE4\xB8\x8B\xE8\xBD\xBD\\x.log"), "C:\\\xE4\xB8\x8B\xE8\xBD\xBD\\x.log");
}

TEST(InstallLog, DialogsShownAndAnsweredByDefault) {
  EXPECT_EQ(logLineFor("dialog", {"123", "Error", "Installer file is corrupted. ", "3", "&Abort"}),
            "dialog shown, \"Error\": \"Installer file is corrupted. \" [Abort]");
  EXPECT_EQ(logLineFor("dialog", {"9", "Confirm", "Open?", "6", "&Yes", "7", "&No"}),
            "dialog shown, \"Confirm\": \"Open?\" [Yes, No]");
  EXPECT_EQ(logLineFor("dialog closed", {"No"}), "dialog answered: No");
  EXPECT_EQ(logLineFor("dialog default", {"Information", "Line one\r\nline two", "OK"}),
            "dialog not shown (unattended), \"Information\": \"Line one\\r\\nline two\"; answered by default: OK");
}

TEST(InstallLog, JournalRecordsAsWhatHappenedOnTheDisk) {
  JournalRecord created;
  created.kind = JournalRecord::Kind::Created;
  created.path = "C:\\ProgramData\\Brindlefax\\Saver\\new\tfile.txt";
  EXPECT_EQ(logLineFor("journal", {journal(created)}),
            "created C:\\ProgramData\\Brindlefax\\Saver\\new\\tfile.txt");

  JournalRecord aside;
  aside.kind = JournalRecord::Kind::Aside;
  aside.path = "C:\\windows\\system32\\Saver.scr";
  aside.backup = backupPathFor(aside.path);
  aside.attributes = 32;
  EXPECT_EQ(logLineFor("journal", {journal(aside)}),
            "set aside C:\\windows\\system32\\Saver.scr as C:\\windows\\system32\\Saver.scr.previous-install");

  JournalRecord entry;
  entry.kind = JournalRecord::Kind::Uninstall;
  entry.root = 'M';
  entry.path = "Saver";
  EXPECT_EQ(logLineFor("journal", {journal(entry)}), "uninstall entry before the install, HKEY_LOCAL_MACHINE: none");
  entry.root = 'U';
  entry.present = true;
  entry.displayName = "Saver";
  entry.uninstallString = "C:\\windows\\system32\\Saver.scr /u";
  EXPECT_EQ(logLineFor("journal", {journal(entry)}),
            "uninstall entry before the install, HKEY_CURRENT_USER: DisplayName \"Saver\", UninstallString "
            "\"C:\\windows\\system32\\Saver.scr /u\"");

  JournalRecord done;
  done.kind = JournalRecord::Kind::Committed;
  EXPECT_EQ(logLineFor("journal", {journal(done)}), "install committed: the set-aside earlier installation goes");
  // A record of a kind this log does not know is still written, as it came.
  EXPECT_EQ(logLineFor("journal", {"renamed\tC:\\a\tC:\\b"}), "journal: renamed\\tC:\\a\\tC:\\b");
}

TEST(InstallLog, StepsReportsAndTheEnd) {
  EXPECT_EQ(logLineFor("enter", {"prepareSaverFolder"}), "enter prepareSaverFolder");
  EXPECT_EQ(logLineFor("leave", {"prepareSaverFolder", "-32"}), "leave prepareSaverFolder: -32");
  EXPECT_EQ(logLineFor("leave", {"openReadMe"}), "leave openReadMe");
  EXPECT_EQ(logLineFor("launcher", {std::string("makeActiveSaver-Saver.scr\0", 26), "no launcher"}),
            "launcher report \"makeActiveSaver-Saver.scr\\0\": no launcher");
  EXPECT_EQ(logLineFor("operating system", {"7", "6", "1", "Service Pack 1"}),
            "operating system code 7, Windows 6.1 Service Pack 1");
  EXPECT_EQ(logLineFor("flash player", {"10", "45"}), "Flash Player 10 revision 45 installed");
  EXPECT_EQ(logLineFor("flash player", {}), "no Flash Player installed");
  EXPECT_EQ(logLineFor("exit", {"-402"}), "exit code -402 (0xFFFFFE6E)");
  EXPECT_EQ(logLineFor("exit", {"0"}), "exit code 0");
  EXPECT_EQ(exitCodeText(112), "112");
  // Positions of the progress bar and the tests' milestones stay out.
  EXPECT_EQ(logLineFor("progress", {"3"}), "");
  EXPECT_EQ(logLineFor("work folder", {"C:\\w\\"}), "");
  EXPECT_EQ(logLinePrefix(2024, 5, 7, 9, 3, 2, 45, 1234), "2024-05-07 09:03:02.045 [1234] ");
}

}  // namespace
