// Setting an earlier installation aside and bringing it back: the live
// install's rollback and commit, and the recovery of a run that was killed.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "system/install_journal_win32.h"
#include "system/uninstall_win32.h"
#include "tests/win/support/folder_fixture.h"

namespace {

constexpr const char* kSaver = "Journal Test Saver";

std::string entryFingerprint() {
  std::string out;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    UninstallValues v = readUninstallEntry(kSaver, root);
    out += v.present ? v.displayName + "|" + v.uninstallString + ";" : "none;";
  }
  return out;
}

class InstallJournalTest : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    saver_ = commonDir() + kSaver + "\\";
    program_ = systemDir() + kSaver + ".scr";
    journal_ = InstallJournal::pathFor(commonDir(), kSaver);
    // The earlier installation: a folder with a nested, a read-only and a
    // hidden file, the program, and the uninstall entry.
    ASSERT_TRUE(winfs::writeFile(saver_ + "saver.dat", "old record"));
    ASSERT_TRUE(winfs::writeFile(saver_ + "sub\\deep.txt", "old nested"));
    ASSERT_TRUE(winfs::writeFile(saver_ + "locked.txt", "old read-only"));
    ASSERT_TRUE(winfs::setReadOnly(saver_ + "locked.txt", true));
    ASSERT_TRUE(winfs::writeFile(program_, "MZ old program"));
    SetFileAttributesA(program_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(restoreUninstallEntry(kSaver, HKEY_LOCAL_MACHINE, {true, "Old Saver", "old /u"}), errOk);
    before_ = state();
  }
  void TearDown() override {
    unregisterUninstall(kSaver);
    SetFileAttributesA(program_.c_str(), FILE_ATTRIBUTE_NORMAL);
    FolderFixture::TearDown();
  }

  std::string state() const {
    return winfs::fingerprint(saver_) + "#" + winfs::fingerprint(program_) + "#" + entryFingerprint() + "#" +
           winfs::fingerprint(backupPathFor(saver_)) + "#" + winfs::fingerprint(backupPathFor(program_)) + "#" + winfs::fingerprint(journal_);
  }

  // What an install does after the overwrite question: set the old one
  // aside and write a new one over it.
  void installOver(InstallJournal& journal) {
    ASSERT_EQ(journal.begin(journal_, kSaver), errOk);
    ASSERT_EQ(journal.setAside(saver_), errOk);
    journal.noteCreated(saver_);
    ASSERT_TRUE(winfs::writeFile(saver_ + "saver.dat", "new record"));
    ASSERT_EQ(journal.prepareFile(program_), errOk);
    ASSERT_TRUE(winfs::writeFile(program_, "MZ new program"));
    ASSERT_EQ(journal.prepareFile(systemDir() + "shared.dll"), errOk);
    ASSERT_TRUE(winfs::writeFile(systemDir() + "shared.dll", "new library"));
    ASSERT_EQ(restoreUninstallEntry(kSaver, HKEY_LOCAL_MACHINE, {true, "New Saver", "new /u"}), errOk);
  }

  std::string saver_, program_, journal_, before_;
};

TEST_F(InstallJournalTest, RollbackBringsBackExactlyTheEarlierInstallation) {
  InstallJournal journal;
  installOver(journal);
  EXPECT_NE(state(), before_);
  journal.rollback();
  EXPECT_EQ(state(), before_);
  EXPECT_FALSE(winfs::exists(systemDir() + "shared.dll"));
}

TEST_F(InstallJournalTest, CommitKeepsTheNewInstallationAndNoBackup) {
  InstallJournal journal;
  installOver(journal);
  journal.commit();
  EXPECT_EQ(winfs::readText(saver_ + "saver.dat"), "new record");
  EXPECT_EQ(winfs::readText(program_), "MZ new program");
  EXPECT_EQ(entryFingerprint(), "New Saver|new /u;none;");
  EXPECT_FALSE(winfs::exists(backupPathFor(saver_)));
  EXPECT_FALSE(winfs::exists(backupPathFor(program_)));
  EXPECT_FALSE(winfs::exists(journal_));
}

// A run that is killed leaves its journal: the next run rolls it back, or,
// when the install had been committed, only removes the backups.
TEST_F(InstallJournalTest, AKilledRunIsRecoveredByTheNextOne) {
  {
    InstallJournal killed;
    installOver(killed);
    killed.noteCreated(systemDir() + "half.dll");  // announced, never written
  }  // the handle closes as the process's would; nothing else happens
  ASSERT_TRUE(winfs::exists(journal_));
  recoverInterruptedInstall(journal_);
  EXPECT_EQ(state(), before_);

  {
    InstallJournal killedAfterCommit;
    installOver(killedAfterCommit);
    JournalRecord done;
    done.kind = JournalRecord::Kind::Committed;
    killedAfterCommit = InstallJournal();  // killed right after writing this:
    ASSERT_TRUE(winfs::writeFile(journal_, winfs::readText(journal_) + journalLine(done)));
  }
  recoverInterruptedInstall(journal_);
  EXPECT_EQ(winfs::readText(saver_ + "saver.dat"), "new record");
  EXPECT_EQ(winfs::readText(program_), "MZ new program");
  EXPECT_FALSE(winfs::exists(backupPathFor(saver_)));
  EXPECT_FALSE(winfs::exists(journal_));
}

TEST_F(InstallJournalTest, ASecondInstallerNeitherBeginsNorRecoversWhileTheFirstRuns) {
  InstallJournal first;
  ASSERT_EQ(first.begin(journal_, kSaver), errOk);
  ASSERT_EQ(first.setAside(saver_), errOk);
  InstallJournal second;
  EXPECT_EQ(second.begin(journal_, kSaver), errFileBusy);
  recoverInterruptedInstall(journal_);  // must not undo what the first one did
  EXPECT_FALSE(winfs::exists(saver_));
  EXPECT_TRUE(winfs::exists(backupPathFor(saver_)));
  first.rollback();
  EXPECT_EQ(state(), before_);
}

// A busy file cannot be renamed: it stays, and the install is told.
TEST_F(InstallJournalTest, ABusyFileIsNotSetAside) {
  HANDLE h = CreateFileA(program_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  InstallJournal journal;
  ASSERT_EQ(journal.begin(journal_, kSaver), errOk);
  EXPECT_EQ(journal.prepareFile(program_), errFileBusy);
  CloseHandle(h);
  journal.rollback();
  EXPECT_EQ(state(), before_);
}

// Renames, not copies: the figures for a folder of 1000 files.
TEST_F(InstallJournalTest, ThousandFilesAreSetAsideAndRestoredAtOnce) {
  for (int i = 0; i < 1000; ++i)
    ASSERT_TRUE(winfs::writeFile(saver_ + "many\\file" + std::to_string(i) + ".bin", std::string(1024, 'x')));
  std::string full = state();
  using Clock = std::chrono::steady_clock;
  InstallJournal journal;
  auto t0 = Clock::now();
  ASSERT_EQ(journal.begin(journal_, kSaver), errOk);
  ASSERT_EQ(journal.setAside(saver_), errOk);
  auto t1 = Clock::now();
  journal.rollback();
  auto t2 = Clock::now();
  EXPECT_EQ(state(), full);
  auto ms = [](auto d) { return std::chrono::duration_cast<std::chrono::microseconds>(d).count() / 1000.0; };
  std::printf("[ timing ] 1000 files: set aside %.1f ms, restored %.1f ms\n", ms(t1 - t0), ms(t2 - t1));
}

}  // namespace
