// The install journal, the one undo: an upgrade set aside and written over,
// then undone, committed, or cut off anywhere (its own undo included) and
// finished by the next run; a journal planted or damaged on the disk is
// acted on in no part.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "base/install_ui.h"
#include "system/access_win32.h"
#include "system/install_journal_win32.h"
#include "system/uninstall_win32.h"
#include "system/win_text_win32.h"
#include "tests/win/support/folder_fixture.h"

namespace {

using Kind = JournalRecord::Kind;

constexpr const char* kSaver = "Journal Test Saver";

std::string entryFingerprint() {
  std::string out;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    UninstallValues v = readUninstallEntry(kSaver, root);
    out += v.present ? v.displayName + "|" + v.uninstallString + ";" : "none;";
  }
  return out;
}

// Remembers the files the undo reported it could not restore.
class ReportingUi : public InstallUi {
public:
  void showStatus(const std::string&) override {}
  void stepProgress() override {}
  bool cancelRequested() override { return false; }
  void reportInstallError(ErrorCode code, const std::string& file) override {
    reported.push_back(std::to_string(code) + " " + file);
  }
  int showMessage(const MessageSpec&) override { return kButtonOk; }
  std::vector<std::string> reported;
};

// Interrupts whatever runs at the n-th file operation, as a kill would: the
// exception unwinds to the test, closing handles on the way (a killed
// process's handles close the same way), and nothing else is done.
struct Interruption {};
int operationsLeft = -1;
DWORD interruptAtCount(const FileOperation&) {
  if (operationsLeft >= 0 && operationsLeft-- == 0) throw Interruption{};
  return 0;
}

// Makes every operation of one kind on one path fail with a code.
std::string failingPath;
DWORD failingCode = 0;
FileOperation::Kind failingKind = FileOperation::Kind::Write;
DWORD failOnePath(const FileOperation& op) {
  return op.kind == failingKind && op.path == failingPath ? failingCode : 0;
}

class ObserverScope {
public:
  explicit ObserverScope(FileOperationObserver observer) : previous_(setFileOperationObserver(observer)) {}
  ~ObserverScope() { setFileOperationObserver(previous_); }

private:
  FileOperationObserver previous_;
};

// While it lives, every operation of one kind on one path fails with a code.
class FailingOperation : ObserverScope {
public:
  FailingOperation(const std::string& path, FileOperation::Kind kind, DWORD code) : ObserverScope(failOnePath) {
    failingPath = path;
    failingKind = kind;
    failingCode = code;
  }
};

class InstallJournalTest : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    saver_ = commonDir() + kSaver + "\\";
    program_ = systemDir() + kSaver + ".scr";
    library_ = systemDir() + "shared.dll";
    journal_ = InstallJournal::pathFor(commonDir(), kSaver);
    plantEarlierInstallation();
    before_ = state();
  }
  // The earlier installation: a folder with a nested, a read-only and a
  // hidden file, the program, and the uninstall entry.
  void plantEarlierInstallation() {
    ASSERT_TRUE(winfs::writeFile(saver_ + "saver.dat", "old record"));
    ASSERT_TRUE(winfs::writeFile(saver_ + "sub\\deep.txt", "old nested"));
    ASSERT_TRUE(winfs::writeFile(saver_ + "locked.txt", "old read-only"));
    ASSERT_TRUE(winfs::setReadOnly(saver_ + "locked.txt", true));
    SetFileAttributesA(program_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(winfs::writeFile(program_, "MZ old program"));
    SetFileAttributesA(program_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(restoreUninstallEntry(kSaver, HKEY_LOCAL_MACHINE, {true, "Old Saver", "old /u"}), errOk);
  }
  void TearDown() override {
    unregisterUninstall(kSaver);
    SetFileAttributesA(program_.c_str(), FILE_ATTRIBUTE_NORMAL);
    FolderFixture::TearDown();
  }

  JournalScope scope() const {
    JournalScope s = saverJournalScope(kSaver, commonDir(), std::string(), {systemDir(), commonDir()});
    s.files.push_back(library_);
    return s;
  }

  // Everything of the saver, and every name beside it (backups, journals).
  std::string state() const {
    std::string s = winfs::fingerprint(saver_) + "#" + winfs::fingerprint(program_) + "#" +
                    winfs::fingerprint(library_) + "#" + entryFingerprint();
    for (const std::string& folder : {commonDir(), systemDir()})
      for (const std::string& name : winfs::listFolder(folder)) s += "|" + name;
    return s;
  }
  std::string newState() const { return newState_; }

  // What an install does after the overwrite question: set the old one
  // aside and write a new one in its place, each step recorded first.
  void installOver(InstallJournal& journal) {
    ASSERT_EQ(journal.begin(journal_, kSaver), errOk);
    ASSERT_EQ(journal.setAside(saver_), errOk);
    ASSERT_EQ(journal.recordCreation(saver_), errOk);
    ASSERT_TRUE(winfs::writeFile(saver_ + "saver.dat", "new record"));
    ASSERT_TRUE(winfs::writeFile(saver_ + "new\\nested.txt", "new nested"));
    ASSERT_EQ(journal.prepareFile(program_), errOk);
    ASSERT_TRUE(winfs::writeFile(program_, "MZ new program"));
    ASSERT_EQ(journal.prepareFile(library_), errOk);
    ASSERT_TRUE(winfs::writeFile(library_, "new library"));
    ASSERT_EQ(restoreUninstallEntry(kSaver, HKEY_LOCAL_MACHINE, {true, "New Saver", "new /u"}), errOk);
  }

  // The state a committed install leaves, measured once.
  void measureNewState() {
    InstallJournal journal;
    installOver(journal);
    ASSERT_EQ(journal.commit(), errOk);
    newState_ = state();
    winfs::removeTree(saver_);
    DeleteFileA(library_.c_str());
    plantEarlierInstallation();
    ASSERT_EQ(state(), before_);
  }

  void recover(InstallUi* ui = nullptr) { recoverInterruptedInstall(journal_, scope(), ui); }

  std::string saver_, program_, library_, journal_, before_, newState_;
};

TEST_F(InstallJournalTest, RollbackBringsBackExactlyTheEarlierInstallation) {
  InstallJournal journal;
  installOver(journal);
  EXPECT_NE(state(), before_);
  EXPECT_EQ(journal.rollback(nullptr), errOk);
  EXPECT_EQ(state(), before_);
}

TEST_F(InstallJournalTest, CommitKeepsTheNewInstallationAndNoBackup) {
  InstallJournal journal;
  installOver(journal);
  EXPECT_EQ(journal.commit(), errOk);
  EXPECT_EQ(winfs::readText(saver_ + "saver.dat"), "new record");
  EXPECT_EQ(winfs::readText(program_), "MZ new program");
  EXPECT_EQ(entryFingerprint(), "New Saver|new /u;none;");
  EXPECT_EQ(winfs::listFolder(commonDir()), std::vector<std::string>{kSaver});
  EXPECT_EQ(winfs::listFolder(systemDir()), (std::vector<std::string>{kSaver + std::string(".scr"), "shared.dll"}));
}

// A run that is killed leaves its journal: the next run undoes it, or, when
// the install had been committed, only removes the backups.
TEST_F(InstallJournalTest, AKilledRunIsRecoveredByTheNextOne) {
  {
    InstallJournal killed;
    installOver(killed);
    killed.recordCreation(saver_ + "half.txt");  // announced, never written
  }  // the handle closes as the process's would; nothing else happens
  ASSERT_TRUE(winfs::exists(journal_));
  recover();
  EXPECT_EQ(state(), before_);

  {
    InstallJournal killedAfterCommit;
    installOver(killedAfterCommit);
    JournalRecord done;
    done.kind = Kind::Committed;
    killedAfterCommit = InstallJournal();  // killed right after writing this:
    ASSERT_TRUE(winfs::writeFile(journal_, winfs::readText(journal_) + journalLine(done)));
  }
  recover();
  EXPECT_EQ(winfs::readText(saver_ + "saver.dat"), "new record");
  EXPECT_EQ(winfs::readText(program_), "MZ new program");
  EXPECT_EQ(winfs::listFolder(commonDir()), std::vector<std::string>{kSaver});
}

// Cut off at every file operation of an undo, and then again at every
// operation of the run that resumes it: the next run always ends with
// exactly the earlier installation.  (Before, a replay deleted the folder a
// first undo had already brought back.)
TEST_F(InstallJournalTest, AnUndoCutOffAnywhereIsResumedWithoutLosingAnything) {
  for (int cut = 0;; ++cut) {
    SCOPED_TRACE("undo cut at operation " + std::to_string(cut));
    {
      InstallJournal journal;
      installOver(journal);
      ObserverScope observe(interruptAtCount);
      operationsLeft = cut;
      bool interrupted = false;
      try {
        journal.rollback(nullptr);
      } catch (const Interruption&) {
        interrupted = true;
      }
      operationsLeft = -1;
      if (!interrupted) {
        EXPECT_EQ(state(), before_);
        break;  // every operation has had its cut
      }
    }
    // The resuming run, cut off in turn at each of its operations.
    for (int second = 0;; ++second) {
      std::string journalText = winfs::readText(journal_);
      ObserverScope observe(interruptAtCount);
      operationsLeft = second;
      bool interrupted = false;
      try {
        recover();
      } catch (const Interruption&) {
        interrupted = true;
      }
      operationsLeft = -1;
      if (!interrupted) break;
    }
    recover();
    ASSERT_EQ(state(), before_);
  }
}

// The new program is held (the saver was made active and runs) when the
// install fails: the undo restores everything else, reports the program,
// and keeps the journal and the old program's backup.  The next run, once
// the program is free, finishes the undo.  (Before, the journal went and
// the next install deleted the old program as an unclaimed backup.)
TEST_F(InstallJournalTest, AFileThatCannotBeRestoredKeepsItsBackupAndTheJournal) {
  InstallJournal journal;
  installOver(journal);
  ReportingUi ui;
  {
    UniqueFile held(CreateFileA(program_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(journal.rollback(&ui), errFileBusy);
    EXPECT_EQ(ui.reported, std::vector<std::string>{"-32 " + program_});
    EXPECT_EQ(winfs::readText(backupPathFor(program_)), "MZ old program");
    EXPECT_EQ(winfs::readText(saver_ + "saver.dat"), "old record");  // the rest is back
    EXPECT_EQ(entryFingerprint(), "Old Saver|old /u;none;");
    EXPECT_TRUE(winfs::exists(journal_));
    InstallJournal next;
    EXPECT_EQ(next.begin(journal_, kSaver), errFileBusy);  // nothing new over an unfinished undo
    recover(&ui);  // still held: nothing is lost either
    EXPECT_EQ(winfs::readText(backupPathFor(program_)), "MZ old program");
  }
  EXPECT_EQ(winfs::readText(program_), "MZ new program");
  recover();
  EXPECT_EQ(state(), before_);
}

// "committed" cannot be recorded (the disk the install filled): the commit
// fails, the backups stay, and the install is undone.
TEST_F(InstallJournalTest, ACommitThatCannotBeRecordedKeepsTheBackups) {
  InstallJournal journal;
  installOver(journal);
  {
    FailingOperation full(journal_, FileOperation::Kind::Write, ERROR_DISK_FULL);
    EXPECT_EQ(journal.commit(), ERROR_DISK_FULL);
  }
  EXPECT_EQ(winfs::readText(backupPathFor(saver_) + "\\saver.dat"), "old record");
  EXPECT_EQ(journal.rollback(nullptr), errOk);
  EXPECT_EQ(state(), before_);
}

// A journal that cannot be deleted after it finished is never replayed: the
// next run (or a second installer that opens it) only deletes it.
TEST_F(InstallJournalTest, AFinishedJournalThatStaysIsNotReplayed) {
  measureNewState();
  for (bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "committed" : "undone");
    InstallJournal journal;
    installOver(journal);
    {
      FailingOperation refused(journal_, FileOperation::Kind::Delete, ERROR_ACCESS_DENIED);
      if (commit)
        EXPECT_EQ(journal.commit(), errOk);
      else
        EXPECT_EQ(journal.rollback(nullptr), errOk);
    }
    ASSERT_TRUE(winfs::exists(journal_));
    std::string finished = state();
    recover();
    EXPECT_FALSE(winfs::exists(journal_));
    EXPECT_EQ(state(), commit ? newState() : before_);
    EXPECT_NE(finished, state());  // only the journal went
  }
}

TEST_F(InstallJournalTest, ASecondInstallerNeitherBeginsNorRecoversWhileTheFirstRuns) {
  InstallJournal first;
  ASSERT_EQ(first.begin(journal_, kSaver), errOk);
  ASSERT_EQ(first.setAside(saver_), errOk);
  InstallJournal second;
  EXPECT_EQ(second.begin(journal_, kSaver), errFileBusy);
  recover();  // must not undo what the first one did
  EXPECT_FALSE(winfs::exists(saver_));
  EXPECT_TRUE(winfs::exists(backupPathFor(saver_)));
  EXPECT_EQ(first.rollback(nullptr), errOk);
  EXPECT_EQ(state(), before_);
}

// A busy file cannot be renamed: it stays, and the install is told.
TEST_F(InstallJournalTest, ABusyFileIsNotSetAside) {
  UniqueFile held(CreateFileA(program_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  InstallJournal journal;
  ASSERT_EQ(journal.begin(journal_, kSaver), errOk);
  EXPECT_EQ(journal.prepareFile(program_), errFileBusy);
  held.reset();
  EXPECT_EQ(journal.rollback(nullptr), errOk);
  EXPECT_EQ(state(), before_);
}

// A backup name taken by something no journal accounts for is left alone:
// the install takes the next one, and nothing of the stranger is deleted.
TEST_F(InstallJournalTest, ATakenBackupNameIsNeverDeleted) {
  ASSERT_TRUE(winfs::writeFile(backupPathFor(saver_) + "\\someones.txt", "not ours"));
  before_ = state();
  InstallJournal journal;
  installOver(journal);
  EXPECT_TRUE(winfs::isFolder(backupPathFor(saver_, 2)));
  ASSERT_EQ(journal.commit(), errOk);
  EXPECT_EQ(winfs::readText(backupPathFor(saver_) + "\\someones.txt"), "not ours");
  EXPECT_FALSE(winfs::exists(backupPathFor(saver_, 2)));
}

// --- journals an ordinary user planted, or the disk damaged -----------------

namespace {

bool ownerIsAUser = false;
SecurityVerdict userOwnsEverything(HANDLE) { return SecurityVerdict{!ownerIsAUser, ownerIsAUser}; }

}  // namespace

// Whatever a planted journal says, nothing happens but its renaming: it is
// set aside under a ".rejected" name and the saver installs as usual.
TEST_F(InstallJournalTest, AJournalOutsideTheSaverIsActedOnInNoPart) {
  const std::string victim = rootDir() + "victim\\";
  ASSERT_TRUE(winfs::writeFile(victim + "document.txt", "precious"));
  ASSERT_TRUE(winfs::writeFile(victim + "planted.dll", "MZ the user's library"));
  ASSERT_EQ(restoreUninstallEntry("Another Product", HKEY_LOCAL_MACHINE, {true, "Another", "another /u"}), errOk);
  auto recordOf = [](Kind kind, std::string path, std::string backup = {}) {
    JournalRecord r;
    r.kind = kind;
    r.path = std::move(path);
    r.backup = std::move(backup);
    return r;
  };
  JournalRecord otherEntry = recordOf(Kind::Uninstall, "Another Product");
  otherEntry.present = false;  // "restoring" it would delete it
  struct Case {
    const char* what;
    std::vector<JournalRecord> records;
    bool userOwned = false;
    std::string text;  // raw text instead of records
  };
  const std::string sig = std::string(kJournalSignature) + "\n";
  const Case cases[] = {
      {"deletes a folder elsewhere", {recordOf(Kind::Created, victim + "document.txt")}, false, ""},
      {"renames a user's file into the system folder",
       {recordOf(Kind::Aside, systemDir() + "planted.dll", systemDir() + "planted.dll.previous-install")}, false, ""},
      {"moves a backup that is not the path's", {recordOf(Kind::Aside, program_, victim + "planted.dll")}, false, ""},
      {"removes another program's uninstall entry", {otherEntry}, false, ""},
      {"a genuine record after a planted one",
       {recordOf(Kind::Created, victim + "document.txt"), recordOf(Kind::Created, saver_ + "sub")}, false, ""},
      {"genuine records, but owned by an ordinary user", {recordOf(Kind::Created, saver_ + "sub")}, true, ""},
      {"cannot be parsed", {}, false, sig + "created\n"},
      {"cut short in the middle", {}, false, sig + "aside\tC:\\x\n" + "created\tC:\\y\n"},
  };
  SecurityFunctions previous = setSecurityFunctions({userOwnsEverything, nullptr});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = c.text;
    if (text.empty()) {
      text = std::string(kJournalSignature) + "\n";
      for (const JournalRecord& r : c.records) text += journalLine(r);
    }
    ASSERT_TRUE(winfs::writeFile(journal_, text));
    ownerIsAUser = c.userOwned;
    recover();
    ownerIsAUser = false;
    EXPECT_FALSE(winfs::exists(journal_));
    EXPECT_EQ(winfs::readText(journal_ + ".rejected"), text);
    EXPECT_EQ(winfs::readText(victim + "document.txt"), "precious");
    EXPECT_EQ(winfs::readText(victim + "planted.dll"), "MZ the user's library");
    EXPECT_FALSE(winfs::exists(systemDir() + "planted.dll"));
    EXPECT_EQ(readUninstallEntry("Another Product", HKEY_LOCAL_MACHINE).displayName, "Another");
    EXPECT_EQ(winfs::readText(saver_ + "sub\\deep.txt"), "old nested");
    // It never blocks the saver's own installs.
    InstallJournal journal;
    installOver(journal);
    EXPECT_EQ(journal.rollback(nullptr), errOk);
    DeleteFileA((journal_ + ".rejected").c_str());
    EXPECT_EQ(state(), before_);
  }
  setSecurityFunctions(previous);
  unregisterUninstall("Another Product");
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
  EXPECT_EQ(journal.rollback(nullptr), errOk);
  auto t2 = Clock::now();
  EXPECT_EQ(state(), full);
  auto ms = [](auto d) { return std::chrono::duration_cast<std::chrono::microseconds>(d).count() / 1000.0; };
  std::printf("[ timing ] 1000 files: set aside %.1f ms, restored %.1f ms\n", ms(t1 - t0), ms(t2 - t1));
}

}  // namespace
