// Whole installers under wine64 meeting injected faults: destinations held
// open by another process, read-only earlier installations and installer
// files, a full disk, and Cancel pressed at every step of the install.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "app/dialogs_win32.h"
#include "app/installer_form_win32.h"
#include "base/messages.h"
#include "system/handles_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"
#include "tools/implode/implode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Bytes that do not compress: a stored member stays as large as it is.
Bytes noise(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// Every file below folder (relative names), for before/after comparisons.
std::vector<std::string> treeOf(const std::string& folder, const std::string& prefix = "") {
  std::vector<std::string> names;
  for (const std::string& n : winfs::listFolder(folder)) {
    if (winfs::isFolder(folder + n)) {
      for (const std::string& inner : treeOf(folder + n + "\\", prefix + n + "\\")) names.push_back(inner);
    } else {
      names.push_back(prefix + n);
    }
  }
  return names;
}

void setTreeReadOnly(const std::string& folder) {
  for (const std::string& n : treeOf(folder)) winfs::setReadOnly(folder + n, true);
}

// ---------------------------------------------------------------------------

class FaultTest : public e2e::SaverTest {
protected:
  FaultTest() : SaverTest(kSaver, kProgram) {}
  void removeEverything() override {
    SaverTest::removeEverything();
    winfs::setReadOnly(e2e::systemFolder() + kLibrary, false);
    DeleteFileA((e2e::systemFolder() + kLibrary).c_str());
  }

  static DataFileBuilder saverData(const std::string& tag = "") {
    DataFileBuilder data;
    data.add("main.swf", bytesOf("FWS\x09movie" + tag))
        .add("sub\\deeper\\notes.txt", bytesOf("nested file" + tag))
        .addImploded("big.txt", bytesOf(std::string(5000, 'a') + "the lazy dog" + tag), e2e::implode)
        .addCopy("copy of main.swf");
    return data;
  }
  static PackageBuilder package(const DataFileBuilder& data = saverData(), const std::string& program = "MZ saver") {
    PackageBuilder b;
    b.mode(2).saverName(kSaver).offerControlPanel(false).item(6, kProgram, 2, bytesOf(program)).dataFile(data);
    return b;
  }

  // The saver folder, the program and the uninstall entry, as one text.
  std::string saverState() const {
    return winfs::fingerprint(saverFolder()) + "#" + winfs::fingerprint(program()) + "#" +
           e2e::uninstallValue(kSaver, "DisplayName") + "|" + e2e::uninstallValue(kSaver, "UninstallString");
  }

  static constexpr const char* kSaver = "Fault Test Saver";
  static constexpr const char* kProgram = "Fault Test Saver.scr";
  static constexpr const char* kLibrary = "Fault Test Helper.dll";
};

// --- Destinations held open ------------------------------------------------

// The system folder's ".scr" is in use (a running preview holds it): the
// item is skipped, the old program stays, and the user is told the install
// succeeded (the new saver's files and entry are there).
TEST_F(FaultTest, BusySaverProgramIsSkippedAndTheOldOneStays) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(program(), "MZ old saver"));
  UniqueFile held = winfs::holdOpen(program());
  ASSERT_TRUE(held);

  // The control panel offer keeps the finished window up long enough to be read.
  PackageBuilder b = package();
  b.offerControlPanel(true);
  e2e::RunOptions options;
  options.answer = ui::answerWithFirstOf({IDNO});
  e2e::InstallerSession session(installer(b), options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  ui::pressButton(form, idInstallBtn);
  e2e::RunResult run = session.finish();

  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].text, controlPanelQuestionMessage().text);
  EXPECT_TRUE(contains(run.statuses(), installStatusText(errOk)));
  held.reset();
  EXPECT_EQ(winfs::readText(program()), "MZ old saver");
  EXPECT_EQ(winfs::readText(saverFolder() + "main.swf"), "FWS\x09movie");
  EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
  EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
  expectWorkFolderGone();
}

// A file of the earlier installation is held open while a newer version is
// installed.  The earlier installation is set aside as a whole, never
// emptied around the held file: where the system refuses to move a folder
// with an open file (Windows), the install stops with -32; where it moves
// it (Wine), the new installation is written.  An install that fails at its
// very end brings the earlier one back, held file and all.  Afterwards the
// saver is exactly the old version or exactly the new one, as the exit code
// says.
TEST_F(FaultTest, HeldMemberNeverLeavesAHalfInstallation) {
  e2e::FlashStandIn flash;
  DataFileBuilder older = saverData();
  older.add("only in the older.txt", bytesOf("old"));
  const std::string v1 = installer(package(older), "Old.exe");
  const std::string v2 = installer(package(saverData(" v2"), "MZ saver v2"), "New.exe");
  ASSERT_EQ(runQuiet(v2).exitCode, 0);
  const std::string newer = saverState();
  e2e::removeSaver(kSaver, kProgram);
  for (const char* member : {"sub\\deeper\\notes.txt", "big.txt"}) {
    for (bool failAtTheEnd : {false, true}) {
      SCOPED_TRACE(std::string(member) + (failAtTheEnd ? ", failing at the end" : ""));
      ASSERT_EQ(runQuiet(v1).exitCode, 0);
      const std::string old = saverState();
      ASSERT_NE(old, newer);
      UniqueFile held = winfs::holdOpen(saverFolder() + member);
      ASSERT_TRUE(held);

      e2e::RunOptions options;
      options.args = {"/q"};
      if (failAtTheEnd) options.environment = {{"BRINDLEFAX_TEST_RAISE_IN", "registerUninstall"}};
      e2e::RunResult run = e2e::runInstaller(v2, options);
      held.reset();
      if (run.exitCode == 0) {
        EXPECT_FALSE(failAtTheEnd);
        EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
        EXPECT_EQ(saverState(), newer);
      } else {
        if (!failAtTheEnd) {
          EXPECT_EQ(run.exitCode, errFileBusy);
        }
        EXPECT_EQ(saverState(), old);
      }
      winfs::removeTree(e2e::commonFolder() + kSaver + ".previous-install\\");
      e2e::removeSaver(kSaver, kProgram);
    }
  }
  expectWorkFolderGone();
}

// --- Read-only files -----------------------------------------------------------

TEST_F(FaultTest, ReadOnlyEarlierInstallationIsReplaced) {
  e2e::FlashStandIn flash;
  DataFileBuilder older = saverData();
  older.add("only in the older.txt", bytesOf("old"));
  ASSERT_EQ(runQuiet(installer(package(older), "Old.exe")).exitCode, 0);
  setTreeReadOnly(saverFolder());
  SetFileAttributesA((saverFolder() + "sub").c_str(), FILE_ATTRIBUTE_READONLY);
  winfs::setReadOnly(program(), true);

  e2e::RunResult run = runQuiet(installer(package(saverData(" v2"), "MZ saver v2"), "New.exe"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
  EXPECT_EQ(winfs::readText(program()), "MZ saver v2");
  EXPECT_EQ(winfs::readText(saverFolder() + "sub\\deeper\\notes.txt"), "nested file v2");
  EXPECT_EQ(winfs::readText(saverFolder() + "copy of main.swf"), "FWS\x09movie v2");
  EXPECT_FALSE(winfs::exists(saverFolder() + "only in the older.txt"));
  expectWorkFolderGone();
}

// The installer copies itself by reading: its own attributes stay as they are.
TEST_F(FaultTest, ReadOnlyInstallerInstallsAndKeepsItsAttribute) {
  e2e::FlashStandIn flash;
  std::string path = installer(package());
  ASSERT_TRUE(winfs::setReadOnly(path, true));
  e2e::RunResult run = runQuiet(path);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
  EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
  EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);
  expectWorkFolderGone();
}

// --- Bounded retries ---------------------------------------------------------

// The work folder is fresh on every run, so "temp.dat" never meets a held
// file.  A held ".dll" item in the system folder is tried a bounded number
// of times (at most its 1000 deletion attempts, counted through the
// file-operation trace) and then skipped without a message, like any busy
// item; the install goes on and succeeds.
TEST_F(FaultTest, HeldLibraryItemIsRetriedBoundedlyThenSkipped) {
  e2e::FlashStandIn flash;
  PackageBuilder b = package();
  b.item(7, kLibrary, 2, bytesOf("MZ new helper"));
  std::string path = installer(b);
  const std::string library = e2e::systemFolder() + kLibrary;

  ASSERT_EQ(runQuiet(path).exitCode, 0);
  EXPECT_EQ(winfs::readText(library), "MZ new helper");

  ASSERT_TRUE(winfs::writeFile(library, "MZ old helper"));
  UniqueFile held = winfs::holdOpen(library);
  ASSERT_TRUE(held);
  e2e::RunOptions options;
  options.args = {"/q"};
  options.traceFiles = true;
  e2e::RunResult run = e2e::runInstaller(path, options);
  held.reset();

  int attempts = 0;
  for (const e2e::TraceEvent& e : run.events)
    if (e.kind == "file" && e.field(1) == library && (e.field(0) == "delete" || e.field(0) == "rename")) ++attempts;
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
  EXPECT_GE(attempts, 1);
  EXPECT_LE(attempts, 1000);
  EXPECT_EQ(winfs::readText(library), "MZ old helper");
  EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
  expectWorkFolderGone();
}

// --- A full disk -------------------------------------------------------------

// The disk fills while a large file is written (the write fails with 112,
// made to through the file-operation seam): the install fails with that
// code, says so once, and the machine is as it was.
TEST_F(FaultTest, FullDiskFailsTheInstallAndLeavesTheMachineAsItWas) {
  e2e::FlashStandIn flash;
  const Bytes large = noise(400 * 1024, 7);
  const std::string diskFull = systemErrorText(ERROR_DISK_FULL);
  struct Case {
    const char* name;
    PackageBuilder pkg;
    std::string file;    // the file whose writing fills the disk
    std::string dialog;  // what the failing step shows
  } cases[] = {
      {"stored member", package(saverData().add("large.bin", large)), "large.bin",
       dataFileReadErrorMessage(diskFull).text},
      {"imploded member",
       package(saverData().addImploded("large.txt", bytesOf(std::string(400 * 1024, 'x')), e2e::implode)),
       "large.txt", zipErrorMessage(diskFull).text},
      {"package item", package().item(9, "large.bin", 1, large), "large.bin",
       installErrorText(ERROR_DISK_FULL, saverFolder() + "large.bin", "")},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string full = saverFolder() + c.file;
    int refused = 0;
    e2e::RunOptions options;
    options.args = {"/q"};
    options.fileAnswer = [&](const e2e::TraceEvent& e) {
      if (e.field(0) != "write" || e.field(1) != full) return 'k';
      ++refused;
      return static_cast<char>(ERROR_DISK_FULL);
    };
    e2e::RunResult run = e2e::runInstaller(installer(c.pkg), options);
    EXPECT_GT(refused, 0);
    EXPECT_EQ(run.exitCode, ERROR_DISK_FULL);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0].text, c.dialog);
    expectNothingOfTheSaver();
    expectWorkFolderGone();
  }
}

// --- Expansion past the announced size ------------------------------------------

// An imploded item and an imploded member that announce 1 KiB and expand to
// 100 MiB: the expansion stops at the announced size with -13 and the file
// removed, and no more than the announcement is ever written to the disk
// (every write is seen through the file-operation seam).
TEST_F(FaultTest, ExpansionStopsAtTheAnnouncedSize) {
  e2e::FlashStandIn flash;
  ImplodeOptions fast;
  fast.literalMode = ImplodeLiteralMode::Binary;
  fast.dictionary = ImplodeDictionary::Size4096;
  fast.effort = ImplodeEffort::Fast;
  const Bytes zeros(100u << 20, 0);
  const Bytes bomb = implodeBuffer(zeros.data(), zeros.size(), fast);
  ASSERT_LT(bomb.size(), 2u << 20);
  constexpr std::int32_t kAnnounced = 1024;

  PackageItem item;
  item.fileName = "bomb.txt";
  item.itemType = 1;
  item.isCompressed = 1;
  item.expandedSize = kAnnounced;
  MemberHeader member;
  member.fileSize = kAnnounced;
  member.storedSize = static_cast<std::int32_t>(bomb.size());
  member.isImploded = 1;
  struct Case {
    const char* name;
    PackageBuilder pkg;
    std::string file;
    std::size_t dialogs;  // a failed item is reported, a failed member is not
  } cases[] = {
      {"item", package().rawItem(7, item, bomb), "bomb.txt", 1},
      {"member", package(saverData().addMember("bomb.bin", member, bomb)), "bomb.bin", 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint64_t written = 0;
    e2e::RunOptions options;
    options.args = {"/q"};
    options.fileAnswer = [&](const e2e::TraceEvent& e) {
      if (e.field(0) == "write" && e.field(1) == saverFolder() + c.file)
        written = std::max<std::uint64_t>(written, std::stoull(e.field(3)) + e.field(4).size());
      return 'k';
    };
    e2e::RunResult run = e2e::runInstaller(installer(c.pkg), options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, errSizeMismatch);
    EXPECT_EQ(run.dialogs.size(), c.dialogs);
    EXPECT_LE(written, static_cast<std::uint64_t>(kAnnounced));
    expectNothingOfTheSaver();
    expectWorkFolderGone();
  }
}

// --- Cancel at every step ------------------------------------------------------

// Cancel pressed in the pause after the n-th progress step (five items, 6
// to 10, then the expansion): the install stops before the next step,
// removes everything, and the installer ends, as no step failed.  The
// click is posted while the installer waits in the step's trace event, so
// it is the first thing the pause after that step handles.
TEST_F(FaultTest, CancelAfterEveryProgressStepLeavesNothing) {
  e2e::FlashStandIn flash;
  std::string path = installer(package());
  const std::string aborted = "Installation Aborted. Cleaning up files...";
  for (int step = 1; step <= 6; ++step) {
    SCOPED_TRACE("cancel after step " + std::to_string(step));
    e2e::RunOptions options;
    options.viaLauncher = true;
    bool pressed = false;
    options.onEvent = e2e::pressCancelAt(e2e::atProgress(step), &pressed);
    e2e::InstallerSession session(path, options);
    HWND form = session.waitForForm();
    ASSERT_NE(form, nullptr);
    ui::pressButton(form, idInstallBtn);
    e2e::RunResult run = session.finish();
    std::vector<std::string> statuses = run.statuses();

    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
    EXPECT_EQ(run.highestProgress(), step) << "the cancel came late";
    EXPECT_TRUE(contains(statuses, aborted));
    EXPECT_FALSE(contains(statuses, installStatusText(errOk)));
    EXPECT_EQ(contains(statuses, "Expanding files..."), step == 6);
    EXPECT_FALSE(contains(statuses, "Writing saver data file..."));
    for (const auto& r : run.reports)
      EXPECT_EQ(r.bytes.find("makeActiveSaver-"), std::string::npos) << "the saver was announced";
    expectNothingOfTheSaver();
    expectWorkFolderGone();
  }
}

// Cancel pressed once the last step has begun: nothing is left to stop, the
// install stands and the control panel offer is skipped.
TEST_F(FaultTest, CancelAfterTheLastStepKeepsTheInstall) {
  e2e::FlashStandIn flash;
  PackageBuilder b = package();
  b.offerControlPanel(true);
  e2e::RunOptions options;
  bool pressed = false;
  options.onEvent = e2e::pressCancelAt(e2e::atStatus("Writing saver data file..."), &pressed);
  e2e::InstallerSession session(installer(b), options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  ui::pressButton(form, idInstallBtn);
  e2e::RunResult run = session.finish();
  EXPECT_TRUE(pressed);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;  // no control panel offer
  EXPECT_TRUE(contains(run.statuses(), "Writing saver data file..."));
  EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
  EXPECT_TRUE(winfs::exists(program()));
  EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
  expectWorkFolderGone();
}

}  // namespace
