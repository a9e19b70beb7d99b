#include <gtest/gtest.h>

#include "system/install_journal.h"

namespace {

using Kind = JournalRecord::Kind;

std::string journalOf(const std::vector<JournalRecord>& records, std::string_view signature = kJournalSignature) {
  std::string text = std::string(signature) + "\n";
  for (const JournalRecord& r : records) text += journalLine(r);
  return text;
}

JournalRecord record(Kind kind, std::string path = {}, std::string backup = {}) {
  JournalRecord r;
  r.kind = kind;
  r.path = std::move(path);
  r.backup = std::move(backup);
  return r;
}

JournalRecord undone(std::size_t target) {
  JournalRecord r;
  r.kind = Kind::Undone;
  r.target = target;
  return r;
}

TEST(InstallJournalRecords, EveryKindSurvivesTheRoundTripWithAwkwardText) {
  JournalRecord aside = record(Kind::Aside, "C:\\ProgramData\\Brindlefax\\Caf\xC3\xA9", "C:\\x.previous-install");
  aside.attributes = 0x27;
  JournalRecord created = record(Kind::Created, "C:\\windows\\system32\\a\\tab\there.scr");
  JournalRecord entry = record(Kind::Uninstall, "Saver");
  entry.root = 'U';
  entry.present = true;
  entry.displayName = "line\nbreak and back\\slash\r";

  auto parsed = parseJournal(journalOf(
      {aside, created, entry, record(Kind::Committed), undone(1234567890u), record(Kind::Finished)}));
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->legacy);
  const std::vector<JournalRecord>& r = parsed->records;
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[0].kind, Kind::Aside);
  EXPECT_EQ(r[0].path, aside.path);
  EXPECT_EQ(r[0].backup, aside.backup);
  EXPECT_EQ(r[0].attributes, 0x27u);
  EXPECT_EQ(r[1].path, created.path);
  EXPECT_EQ(r[2].root, 'U');
  EXPECT_TRUE(r[2].present);
  EXPECT_EQ(r[2].displayName, entry.displayName);
  EXPECT_EQ(r[2].uninstallString, "");
  EXPECT_EQ(r[3].kind, Kind::Committed);
  EXPECT_EQ(r[4].kind, Kind::Undone);
  EXPECT_EQ(r[4].target, 1234567890u);
  EXPECT_EQ(r[5].kind, Kind::Finished);
}

// A run cut off while appending leaves a line without its line feed: the
// step it announced never started, so the line is dropped, not refused.
TEST(InstallJournalRecords, ATornLastLineIsIgnored) {
  std::string text = journalOf({record(Kind::Created, "C:\\a")}) + "aside\tC:\\b\tC:\\b.prev";
  auto parsed = parseJournal(text);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->records.size(), 1u);
  EXPECT_EQ(parsed->records[0].path, "C:\\a");
  EXPECT_TRUE(parseJournal(std::string(kJournalSignature) + "\n")->records.empty());
}

// Cut off by a power failure before its signature was on the disk: it
// recorded nothing, so nothing needs undoing.
TEST(InstallJournalRecords, AJournalWhoseSignatureNeverReachedTheDiskRecordedNothing) {
  for (std::string text : {std::string(), std::string(5, '\0'), std::string(kJournalSignature.substr(0, 7))}) {
    auto parsed = parseJournal(text);
    ASSERT_TRUE(parsed) << text.size();
    EXPECT_TRUE(parsed->records.empty());
  }
  EXPECT_FALSE(parseJournal("saver install journal X"));
  EXPECT_FALSE(parseJournal(std::string("\0\0x", 3)));
}

TEST(InstallJournalRecords, TextThatIsNotOurJournalIsRefused) {
  EXPECT_FALSE(parseJournal("some other file\ncreated\tC:\\a\n"));
  std::string sig = std::string(kJournalSignature) + "\n";
  for (const char* line : {"deleted\tC:\\a\n", "created\t\n", "aside\tC:\\a\tC:\\b\tx\n", "aside\tC:\\a\tC:\\b\t1\textra\n",
                           "created\tC:\\bad\\qescape\n", "uninstall\tX\t1\tS\ta\tb\n", "undone\t-1\n", "undone\t\n",
                           "undone\t1x\n", "finished\tnow\n"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(parseJournal(sig + line));
  }
}

// Journals of the earlier release are still read (an install of it may have
// been cut off), and marked so that their replacements are removed first.
TEST(InstallJournalRecords, EarlierReleasesJournalsAreRead) {
  auto parsed = parseJournal(journalOf({record(Kind::Aside, "C:\\a", "C:\\a.previous-install")}, kJournalSignatureV1));
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(parsed->legacy);
  EXPECT_EQ(parsed->records.size(), 1u);
}

TEST(InstallJournalRecords, ProgressCountsUndoneStepsCommitAndFinish) {
  std::vector<JournalRecord> r = {record(Kind::Aside, "C:\\a", "C:\\a.previous-install"), record(Kind::Created, "C:\\a"),
                                  undone(1), undone(7)};
  JournalProgress p = journalProgress(r);
  EXPECT_FALSE(p.committed || p.finished);
  EXPECT_EQ(p.undone, (std::vector<bool>{false, true, false, false}));  // an index past the end counts for nothing
  r.push_back(record(Kind::Committed));
  r.push_back(record(Kind::Finished));
  p = journalProgress(r);
  EXPECT_TRUE(p.committed && p.finished);
}

TEST(InstallJournalRecords, BackupNamesSitBesideTheOriginalAndAreNumberedWhenTaken) {
  EXPECT_EQ(backupPathFor("C:\\ProgramData\\Brindlefax\\Saver\\"), "C:\\ProgramData\\Brindlefax\\Saver.previous-install");
  EXPECT_EQ(backupPathFor("C:\\windows\\system32\\Saver.scr", 3), "C:\\windows\\system32\\Saver.scr.previous-install-3");
  EXPECT_TRUE(isBackupPathOf("C:\\s\\x.previous-install", "C:\\s\\x"));
  EXPECT_TRUE(isBackupPathOf("C:\\s\\x.previous-install-99", "C:\\s\\x\\"));
  for (const char* other : {"C:\\s\\x.previous-install-1", "C:\\s\\x.previous-install-100", "C:\\s\\x.previous-install-02",
                            "C:\\s\\y.previous-install", "C:\\s\\x.previous", "C:\\Windows\\x.previous-install"}) {
    SCOPED_TRACE(other);
    EXPECT_FALSE(isBackupPathOf(other, "C:\\s\\x"));
  }
}

TEST(InstallJournalRecords, PathsBelowAFolderAreCheckedComponentByComponent) {
  const std::string folder = "C:\\ProgramData\\Brindlefax\\Saver\\";
  EXPECT_TRUE(isPlainPathBelow("C:\\ProgramData\\Brindlefax\\Saver\\a", folder));
  EXPECT_TRUE(isPlainPathBelow("c:\\programdata\\BRINDLEFAX\\saver\\sub\\b.txt", "C:\\ProgramData\\Brindlefax\\Saver"));
  for (const char* path : {"C:\\ProgramData\\Brindlefax\\Saver", "C:\\ProgramData\\Brindlefax\\Saver\\",
                           "C:\\ProgramData\\Brindlefax\\SaverX\\a", "C:\\ProgramData\\Brindlefax\\Saver\\..\\Other",
                           "C:\\ProgramData\\Brindlefax\\Saver\\.\\a", "C:\\ProgramData\\Brindlefax\\Saver\\a\\\\b",
                           "C:\\ProgramData\\Brindlefax\\Saver\\a:stream", "C:\\ProgramData\\Brindlefax\\Saver\\a/../../x",
                           "C:\\ProgramData\\Brindlefax\\Saver\\sub\\..", "D:\\ProgramData\\Brindlefax\\Saver\\a"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(isPlainPathBelow(path, folder));
  }
}

// The validator, table by table: a planted journal (or one damaged on the
// disk) must be refused whole whatever single record makes it so.
class JournalScopeTest : public ::testing::Test {
protected:
  JournalScope scope = [] {
    JournalScope s = saverJournalScope("Saver", "C:\\ProgramData\\Brindlefax\\", "C:\\Windows\\",
                                       {"C:\\Windows\\", "C:\\Windows\\system32\\", "", "C:\\ProgramData\\Brindlefax\\"});
    s.files.push_back("C:\\ProgramData\\Brindlefax\\shared.dll");
    return s;
  }();
  // What an upgrade writes, in the order it writes it.
  std::vector<JournalRecord> genuine() const {
    JournalRecord entry = record(Kind::Uninstall, "Saver");
    return {entry,
            record(Kind::Aside, "C:\\Windows\\Saver.scr", "C:\\Windows\\Saver.scr.previous-install"),
            record(Kind::Aside, "C:\\ProgramData\\Brindlefax\\Saver", "C:\\ProgramData\\Brindlefax\\Saver.previous-install-2"),
            record(Kind::Created, "C:\\ProgramData\\Brindlefax\\Saver"),
            record(Kind::Aside, "c:\\windows\\SYSTEM32\\saver.scr", "c:\\windows\\SYSTEM32\\saver.scr.previous-install"),
            record(Kind::Created, "c:\\windows\\SYSTEM32\\saver.scr"),
            record(Kind::Created, "C:\\ProgramData\\Brindlefax\\shared.dll")};
  }
};

TEST_F(JournalScopeTest, WhatAnInstallOfTheSaverWritesIsAccepted) {
  std::vector<JournalRecord> r = genuine();
  EXPECT_EQ(journalScopeProblem(r, scope), "");
  r.push_back(undone(6));
  r.push_back(undone(3));
  r.push_back(record(Kind::Finished));
  EXPECT_EQ(journalScopeProblem(r, scope), "");
  std::vector<JournalRecord> committed = genuine();
  committed.push_back(record(Kind::Committed));
  committed.push_back(record(Kind::Finished));
  EXPECT_EQ(journalScopeProblem(committed, scope), "");
}

TEST_F(JournalScopeTest, ARecordOutsideTheSaverRefusesTheWholeJournal) {
  struct Case {
    const char* what;
    JournalRecord bad;
  };
  JournalRecord otherEntry = record(Kind::Uninstall, "Another Product");
  JournalRecord machineWide = record(Kind::Uninstall, "saver");  // a key name is compared exactly
  const Case cases[] = {
      {"another saver's folder", record(Kind::Created, "C:\\ProgramData\\Brindlefax\\Other Saver")},
      {"a folder elsewhere", record(Kind::Created, "C:\\Users\\Public\\Documents")},
      {"up and out of the saver folder", record(Kind::Created, "C:\\ProgramData\\Brindlefax\\Saver\\..\\..\\x")},
      {"a system library", record(Kind::Aside, "C:\\Windows\\system32\\version.dll", "C:\\Windows\\system32\\version.dll.previous-install")},
      {"a user's file renamed into the system folder",
       record(Kind::Aside, "C:\\Users\\me\\planted.dll", "C:\\Windows\\system32\\x.previous-install")},
      {"a backup that is not the path's", record(Kind::Aside, "C:\\Windows\\Saver.scr", "C:\\Windows\\system32\\evil.dll")},
      {"another program's uninstall entry", otherEntry},
      {"the entry under another letter case", machineWide},
      {"the common folder itself", record(Kind::Created, "C:\\ProgramData\\Brindlefax")},
      {"an alternate data stream", record(Kind::Created, "C:\\ProgramData\\Brindlefax\\Saver\\a:evil")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (std::size_t at : {std::size_t{0}, std::size_t{4}, genuine().size()}) {
      std::vector<JournalRecord> r = genuine();
      r.insert(r.begin() + static_cast<std::ptrdiff_t>(at), c.bad);
      EXPECT_NE(journalScopeProblem(r, scope), "") << "inserted at " << at;
    }
  }
}

TEST_F(JournalScopeTest, RecordsOutOfTheOrderAnInstallWritesAreRefused) {
  auto with = [this](std::vector<JournalRecord> tail) {
    std::vector<JournalRecord> r = genuine();
    r.insert(r.end(), tail.begin(), tail.end());
    return journalScopeProblem(r, scope);
  };
  EXPECT_NE(with({undone(7)}), "");                     // undoes itself
  EXPECT_NE(with({undone(9)}), "");                     // undoes a later record
  EXPECT_NE(with({undone(5), undone(5)}), "");          // twice
  EXPECT_NE(with({record(Kind::Committed), undone(5)}), "");  // an undo of a committed install
  EXPECT_NE(with({record(Kind::Committed), record(Kind::Committed)}), "");
  EXPECT_NE(with({record(Kind::Committed), record(Kind::Created, "C:\\ProgramData\\Brindlefax\\Saver\\x")}), "");
  EXPECT_NE(with({record(Kind::Finished), record(Kind::Created, "C:\\ProgramData\\Brindlefax\\Saver\\x")}), "");
  std::vector<JournalRecord> r = genuine();
  r.push_back(record(Kind::Committed));
  r.push_back(undone(r.size() - 1));  // "committed" changed nothing to undo
  EXPECT_NE(journalScopeProblem(r, scope), "");
}

}  // namespace
