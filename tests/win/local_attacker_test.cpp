// A stand-in local attacker: an ordinary program of the same user that
// prepares the places it can write (the common folder, the saver folder, a
// journal) or acts at an exact step of the elevated installer, of its commit
// and of the saver's own uninstall.  Nothing outside the saver's own places
// changes, byte for byte, and the genuine install or uninstall succeeds or
// refuses with its message.  (Links are Unix links, which Wine shows as
// junctions; owners and access lists, which Wine does not keep, are tested
// through their seam in the module tests.)
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "base/messages.h"
#include "base/text.h"
#include "system/install_journal.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"
#include "tests/win/support/unix_link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr const char* kSaver = "Attacked Saver";
constexpr const char* kProgram = "Attacked Saver.scr";
constexpr const char* kOther = "Bystander Saver";

class LocalAttacker : public e2e::SaverTest {
protected:
  LocalAttacker() : SaverTest(kSaver, kProgram) {}
  void SetUp() override {
    SaverTest::SetUp();
    victim_ = rootDir() + "victim\\";
    for (int i = 0; i < 60; ++i)
      ASSERT_TRUE(winfs::writeFile(victim_ + "doc" + std::to_string(i) + ".txt", "the user's document " + std::to_string(i)));
    ASSERT_TRUE(winfs::writeFile(victim_ + "deeper\\letter.txt", "precious"));
    untouched_ = winfs::fingerprint(victim_);
  }
  void removeEverything() override {
    SaverTest::removeEverything();
    e2e::removeSaver(kOther, "Bystander Saver.scr");
  }

  // Version v: the program, files at the top and in a sub-folder.
  std::string installer(int v, const std::string& name = kSaver) {
    std::string tag = std::string("v").append(std::to_string(v));
    DataFileBuilder data;
    data.add("a.txt", bytesOf(tag + " a")).add("sub\\nested.txt", bytesOf(tag + " nested"));
    data.addImploded("sub\\big.txt", bytesOf(std::string(3000, 'b') + tag), e2e::implode);
    PackageBuilder b;
    b.mode(2).saverName(name).item(6, name + ".scr", 2, bytesOf("MZ program " + tag)).dataFile(data);
    std::string path = rootDir() + name + " " + tag + ".exe";
    EXPECT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));
    return path;
  }
  static e2e::RunResult quiet(const std::string& path, e2e::TraceHandler onEvent = {}) {
    e2e::RunOptions options;
    options.args = {"/q"};
    options.answer = ui::answerWithFirstOf({IDOK, IDABORT});
    options.onEvent = std::move(onEvent);
    return e2e::runInstaller(path, options);
  }
  static std::string saverFolder() { return e2e::commonFolder() + kSaver + "\\"; }
  void expectVictimUntouched() const { EXPECT_EQ(winfs::fingerprint(victim_), untouched_); }

  std::string victim_, untouched_;
};

JournalRecord record(JournalRecord::Kind kind, const std::string& path, const std::string& backup = {}) {
  JournalRecord r;
  r.kind = kind;
  r.path = path;
  r.backup = backup;
  return r;
}

// Journals planted before the elevated installer runs, of every record
// kind, for this saver and for another one: none is acted on (another
// saver's is not even read), the one of this saver is set aside, and the
// install succeeds.
TEST_F(LocalAttacker, PlantedJournalsChangeNothingAndTheInstallGoesOn) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(victim_ + "planted.dll", "MZ the user's library"));
  untouched_ = winfs::fingerprint(victim_);
  JournalRecord otherEntry = record(JournalRecord::Kind::Uninstall, "Bystander Saver");
  const std::vector<std::vector<JournalRecord>> plants = {
      {record(JournalRecord::Kind::Created, victim_ + "deeper")},
      {record(JournalRecord::Kind::Aside, victim_ + "planted.dll", e2e::systemFolder() + "planted.dll")},
      {record(JournalRecord::Kind::Aside, e2e::systemFolder() + kProgram, victim_ + "doc1.txt")},
      {otherEntry},
  };
  const std::string path = installer(1);
  ASSERT_EQ(quiet(installer(1, kOther)).exitCode, 0);  // a bystander with an entry to lose
  for (const auto& records : plants) {
    std::string text = std::string(kJournalSignature) + "\n";
    for (const JournalRecord& r : records) text += journalLine(r);
    const std::string own = e2e::commonFolder() + kSaver + ".install-journal";
    const std::string others = e2e::commonFolder() + kOther + ".install-journal";
    ASSERT_TRUE(winfs::writeFile(own, text));
    ASSERT_TRUE(winfs::writeFile(others, text));
    e2e::RunResult run = quiet(path);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.dialogs.empty()) << run.dialogTexts()[0];
    expectVictimUntouched();
    EXPECT_FALSE(winfs::exists(e2e::systemFolder() + "planted.dll"));
    EXPECT_TRUE(e2e::uninstallEntryExists(kOther));
    EXPECT_EQ(winfs::readText(own + ".rejected"), text);
    EXPECT_EQ(winfs::readText(others), text);  // never read
    EXPECT_EQ(winfs::readText(saverFolder() + "a.txt"), "v1 a");
    DeleteFileA((own + ".rejected").c_str());
    DeleteFileA(others.c_str());
  }
}

// The common folder, or the saver's folder, made a junction to a folder of
// the user's beforehand: refused at start-up with its own message, nothing
// written there.
TEST_F(LocalAttacker, ALinkedCommonOrSaverFolderIsRefusedAtStartUp) {
  e2e::FlashStandIn flash;
  const std::string path = installer(1);
  const std::string linked = loadText(IDS_ERR_LINKED_SAVER_FOLDER);
  {
    ASSERT_TRUE(winfs::makeFolders(victim_ + kSaver));
    untouched_ = winfs::fingerprint(victim_);
    winfs::UnixLink link(saverFolder(), victim_ + kSaver);
    ASSERT_TRUE(link.made());
    e2e::RunResult run = quiet(path);
    EXPECT_EQ(run.exitCode & 0xFF, errLinkedSaverFolder & 0xFF);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0].text.find(linked), 0u) << run.dialogs[0].text;
    EXPECT_TRUE(winfs::listFolder(victim_ + kSaver).empty());
  }
  // The whole common folder: the real one is moved away meanwhile.
  const std::string common = e2e::commonFolder();
  const std::string bare = common.substr(0, common.size() - 1);
  ASSERT_TRUE(MoveFileExA(bare.c_str(), (bare + " (kept by the test)").c_str(), 0));
  {
    winfs::UnixLink link(bare, victim_);
    if (link.made()) {
      e2e::RunResult run = quiet(path);
      EXPECT_EQ(run.exitCode & 0xFF, errLinkedSaverFolder & 0xFF);
      EXPECT_FALSE(run.dialogs.empty());
    }
    EXPECT_TRUE(link.made());
  }
  ASSERT_TRUE(MoveFileExA((bare + " (kept by the test)").c_str(), bare.c_str(), 0));
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kProgram));
  expectVictimUntouched();
}

// A junction appears in the new saver folder while it is being filled (made
// when the program is recorded, after the folder was made and before the
// data is expanded into it): the next write is refused, the install fails
// with a message and is undone; nothing lands where the junction points.
TEST_F(LocalAttacker, AJunctionPutIntoTheSaverFolderDuringTheInstallRedirectsNothing) {
  e2e::FlashStandIn flash;
  std::unique_ptr<winfs::UnixLink> link;
  std::string programRecord = journalLine(record(JournalRecord::Kind::Created, e2e::systemFolder() + kProgram));
  programRecord.pop_back();  // the line feed
  e2e::RunResult run = quiet(installer(1), [&](const e2e::TraceEvent& e) {
    if (e.kind == "journal" && e.field(0) == programRecord && !link)
      link = std::make_unique<winfs::UnixLink>(saverFolder() + "sub", victim_);
  });
  ASSERT_TRUE(link && link->made());
  EXPECT_EQ(run.exitCode & 0xFF, errLinkedSaverFolder & 0xFF);
  EXPECT_FALSE(run.dialogs.empty());
  expectVictimUntouched();
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kProgram));
  link.reset();
  // Wine cannot remove the link as a link, so the undo kept its journal;
  // the next run finishes it once the link is gone.
  ASSERT_EQ(quiet(installer(1)).exitCode, 0);
  EXPECT_EQ(winfs::readText(saverFolder() + "sub\\nested.txt"), "v1 nested");
  expectVictimUntouched();
}

// The earlier installation's folder holds a sub-folder an ordinary user
// could rename.  When the upgrade's commit has listed the backup, the user
// swaps that sub-folder for a junction to their documents: the commit's
// deletion does not follow it.
TEST_F(LocalAttacker, ASubFolderSwappedForAJunctionDuringTheCommitIsNotFollowed) {
  e2e::FlashStandIn flash;
  ASSERT_EQ(quiet(installer(1)).exitCode, 0);
  ASSERT_TRUE(winfs::writeFile(saverFolder() + "sub\\user's.txt", "dropped in by the user"));
  const std::string backup = backupPathFor(saverFolder());
  std::unique_ptr<winfs::UnixLink> link;
  e2e::RunResult run = quiet(installer(2), [&](const e2e::TraceEvent& e) {
    if (e.kind != "tree listed" || e.field(0) != backup || link) return;
    MoveFileExA((backup + "\\sub").c_str(), (backup + "\\sub moved").c_str(), 0);
    link = std::make_unique<winfs::UnixLink>(backup + "\\sub", victim_);
  });
  ASSERT_TRUE(link && link->made());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(winfs::readText(saverFolder() + "a.txt"), "v2 a");
  expectVictimUntouched();
  link.reset();
  winfs::removeTree(backup);
}

// The same against the saver's own "/u": the folder it removes is listed,
// then a sub-folder is swapped for a junction.
TEST_F(LocalAttacker, ASubFolderSwappedForAJunctionDuringUninstallIsNotFollowed) {
  e2e::FlashStandIn flash;
  PackageBuilder b;
  DataFileBuilder data;
  data.add("a.txt", bytesOf("a")).add("sub\\nested.txt", bytesOf("nested"));
  b.mode(2).saverName(kSaver).item(6, kProgram, 2, winfs::readFile(winfs::hostPath(TEST_BINARY_DIR "/sample-saver.exe")))
      .dataFile(data);
  const std::string path = rootDir() + "Sample Setup.exe";
  ASSERT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));
  ASSERT_EQ(quiet(path).exitCode, 0);
  const std::string folder = saverFolder().substr(0, saverFolder().size() - 1);
  std::unique_ptr<winfs::UnixLink> link;
  e2e::RunOptions options;
  options.args = {"/u", "/q"};
  options.onEvent = [&](const e2e::TraceEvent& e) {
    if (e.kind != "tree listed" || e.field(0) != folder || link) return;
    MoveFileExA((folder + "\\sub").c_str(), (folder + "\\sub moved").c_str(), 0);
    link = std::make_unique<winfs::UnixLink>(folder + "\\sub", victim_);
  };
  e2e::RunResult run = e2e::runInstaller(e2e::systemFolder() + kProgram, options);
  ASSERT_TRUE(link && link->made());
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 5);  // could not remove everything: said so, entry kept
  EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
  expectVictimUntouched();
  link.reset();
}

// A saver named like another one's short (8.3) name would reach that
// saver's folder and program: such a package is refused as damaged.
TEST_F(LocalAttacker, ASaverNamedLikeAnothersShortNameIsRefused) {
  e2e::FlashStandIn flash;
  ASSERT_EQ(quiet(installer(1, kOther)).exitCode, 0);
  const std::string before = winfs::fingerprint(e2e::commonFolder() + kOther + "\\");
  e2e::RunResult run = quiet(installer(1, "BYSTAN~1"));
  EXPECT_EQ(run.exitCode & 0xFF, errBadName & 0xFF);
  EXPECT_EQ(winfs::fingerprint(e2e::commonFolder() + kOther + "\\"), before);
  EXPECT_TRUE(e2e::uninstallEntryExists(kOther));
}

}  // namespace
