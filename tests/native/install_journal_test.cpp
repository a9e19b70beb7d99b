#include <gtest/gtest.h>

#include "system/install_journal.h"

namespace {

std::string journalOf(const std::vector<JournalRecord>& records) {
  std::string text = std::string(kJournalSignature) + "\n";
  for (const JournalRecord& r : records) text += journalLine(r);
  return text;
}

TEST(InstallJournalRecords, EveryKindSurvivesTheRoundTripWithAwkwardText) {
  JournalRecord aside;
  aside.kind = JournalRecord::Kind::Aside;
  aside.path = "C:\\ProgramData\\Brindlefax\\Caf\xC3\xA9";
  aside.backup = "C:\\x.previous-install";
  aside.attributes = 0x27;
  JournalRecord created;
  created.path = "C:\\windows\\system32\\a\\tab\there.scr";
  JournalRecord entry;
  entry.kind = JournalRecord::Kind::Uninstall;
  entry.root = 'U';
  entry.present = true;
  entry.path = "Saver";
  entry.displayName = "line\nbreak and back\\slash\r";
  entry.uninstallString = "";
  JournalRecord done;
  done.kind = JournalRecord::Kind::Committed;

  auto parsed = parseJournal(journalOf({aside, created, entry, done}));
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 4u);
  EXPECT_EQ((*parsed)[0].kind, JournalRecord::Kind::Aside);
  EXPECT_EQ((*parsed)[0].path, aside.path);
  EXPECT_EQ((*parsed)[0].backup, aside.backup);
  EXPECT_EQ((*parsed)[0].attributes, 0x27u);
  EXPECT_EQ((*parsed)[1].path, created.path);
  EXPECT_EQ((*parsed)[2].root, 'U');
  EXPECT_TRUE((*parsed)[2].present);
  EXPECT_EQ((*parsed)[2].path, "Saver");
  EXPECT_EQ((*parsed)[2].displayName, entry.displayName);
  EXPECT_EQ((*parsed)[2].uninstallString, "");
  EXPECT_EQ((*parsed)[3].kind, JournalRecord::Kind::Committed);
}

// A run killed while appending leaves a line without its line feed: the
// step it announced never started, so the line is dropped, not refused.
TEST(InstallJournalRecords, ATornLastLineIsIgnored) {
  JournalRecord created;
  created.path = "C:\\a";
  std::string text = journalOf({created}) + "aside\tC:\\b\tC:\\b.prev";
  auto parsed = parseJournal(text);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 1u);
  EXPECT_EQ((*parsed)[0].path, "C:\\a");
  EXPECT_TRUE(parseJournal(std::string(kJournalSignature) + "\n")->empty());
}

TEST(InstallJournalRecords, TextThatIsNotOurJournalIsRefused) {
  EXPECT_FALSE(parseJournal(""));
  EXPECT_FALSE(parseJournal("some other file\ncreated\tC:\\a\n"));
  std::string sig = std::string(kJournalSignature) + "\n";
  EXPECT_FALSE(parseJournal(sig + "deleted\tC:\\a\n"));
  EXPECT_FALSE(parseJournal(sig + "created\t\n"));                  // no path
  EXPECT_FALSE(parseJournal(sig + "aside\tC:\\a\tC:\\b\tx\n"));     // attributes not a number
  EXPECT_FALSE(parseJournal(sig + "aside\tC:\\a\tC:\\b\t1\textra\n"));
  EXPECT_FALSE(parseJournal(sig + "created\tC:\\bad\\qescape\n"));  // "\q" is no escape
  EXPECT_FALSE(parseJournal(sig + "uninstall\tX\t1\tS\ta\tb\n"));  // no such root
}

TEST(InstallJournalRecords, BackupNamesSitBesideTheOriginal) {
  EXPECT_EQ(backupPathFor("C:\\ProgramData\\Brindlefax\\Saver\\"), "C:\\ProgramData\\Brindlefax\\Saver.previous-install");
  EXPECT_EQ(backupPathFor("C:\\windows\\system32\\Saver.scr"), "C:\\windows\\system32\\Saver.scr.previous-install");
}

}  // namespace
