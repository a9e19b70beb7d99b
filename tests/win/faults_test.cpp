// Whole installers under wine64 meeting injected faults: destinations held
// open by another process, read-only earlier installations and installer
// files, a full disk, and Cancel pressed at every step of the install.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
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

// Another program holding the file open without sharing: deleting,
// replacing and opening it fail with 32 (sharing violation) in the installer.
UniqueFile holdOpen(const std::string& path) {
  return UniqueFile(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
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
// A tmpfs of a few KiB mounted over the Unix folder behind a Windows folder.
// Wine starts Unix programs but cannot wait for them, so each command writes
// its exit status to a file that is polled.

std::string unixPathOf(const std::string& windowsPath) {
  using Fn = char*(CDECL*)(LPCWSTR);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!fn) return {};
  std::wstring wide(windowsPath.begin(), windowsPath.end());
  char* unix = fn(wide.c_str());
  if (!unix) return {};
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::string shellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell script; its exit status, or -1 when it did not run or end in time.
int runUnixScript(const std::string& script, DWORD timeoutMs = 10000) {
  std::string rcFile = winfs::tempFolder() + "faults_unix_" + std::to_string(GetCurrentProcessId()) + ".rc";
  DeleteFileA(rcFile.c_str());
  std::string rcUnix = unixPathOf(rcFile);
  if (rcUnix.empty()) return -1;
  std::string full = "(" + script + ") >/dev/null 2>&1; echo $? > " + shellQuoted(rcUnix) + ".part; mv " +
                     shellQuoted(rcUnix) + ".part " + shellQuoted(rcUnix);
  std::string line = "/bin/sh -c " + ui::quoteArgument(full);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);  // a Unix process's handle cannot be waited on
  DWORD start = GetTickCount();
  while (ui::elapsedMs(start) < timeoutMs) {
    if (winfs::exists(rcFile)) {
      int rc = std::atoi(winfs::readText(rcFile).c_str());
      DeleteFileA(rcFile.c_str());
      return rc;
    }
    Sleep(20);
  }
  return -1;
}

class SmallDisk {
public:
  SmallDisk(const std::string& windowsFolder, int kib) {
    winfs::makeFolders(windowsFolder);
    unixFolder_ = unixPathOf(windowsFolder);
    if (unixFolder_.empty()) {
      why_ = "no Unix path for " + windowsFolder + " (not under Wine?)";
      return;
    }
    std::string dir = shellQuoted(unixFolder_);
    // A mount left over from an interrupted run goes first.
    runUnixScript("mountpoint -q " + dir + " && umount " + dir + "; true");
    int rc = runUnixScript("mount -t tmpfs -o size=" + std::to_string(kib) + "k tmpfs " + dir);
    if (rc != 0) {
      why_ = "mount -t tmpfs failed (" + std::to_string(rc) + "): mounting needs root with CAP_SYS_ADMIN";
      return;
    }
    mounted_ = true;
  }
  ~SmallDisk() {
    if (!mounted_) return;
    std::string dir = shellQuoted(unixFolder_);
    if (runUnixScript("umount " + dir + " || umount -l " + dir) != 0)
      ADD_FAILURE() << "could not unmount the small disk at " << unixFolder_;
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

private:
  std::string unixFolder_, why_;
  bool mounted_ = false;
};

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

  std::string installer(const PackageBuilder& b, const std::string& name = "Setup.exe") {
    std::string path = rootDir() + name;
    EXPECT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));
    return path;
  }
  static e2e::RunResult runQuiet(const std::string& path) {
    e2e::RunOptions options;
    options.args = {"/q"};
    return e2e::runInstaller(path, options);
  }

  static std::string saverFolder() { return e2e::commonFolder() + kSaver + "\\"; }
  static std::string program() { return e2e::systemFolder() + kProgram; }

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
  UniqueFile held = holdOpen(program());
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

// A file of the earlier installation is held open.  The earlier
// installation is set aside as a whole, never emptied around the held file:
// where the system refuses to move a folder with an open file (Windows), the
// install stops with -32 and the earlier installation is untouched; where it
// moves it (Wine), the new installation is written complete and the held
// file stays with the set-aside one.
TEST_F(FaultTest, HeldMemberNeverLeavesAHalfInstallation) {
  e2e::FlashStandIn flash;
  std::string path = installer(package());
  for (const char* member : {"sub\\deeper\\notes.txt", "big.txt"}) {
    SCOPED_TRACE(member);
    ASSERT_EQ(runQuiet(path).exitCode, 0);
    const std::string before = winfs::fingerprint(saverFolder());
    UniqueFile held = holdOpen(saverFolder() + member);
    ASSERT_TRUE(held);

    e2e::RunResult run = runQuiet(path);
    if (run.exitCode == errFileBusy) {
      EXPECT_EQ(winfs::fingerprint(saverFolder()), before);
    } else {
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
      EXPECT_EQ(winfs::fingerprint(saverFolder()), before);  // the same package again
    }
    EXPECT_TRUE(winfs::exists(program()));
    EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
    held.reset();
    winfs::removeTree(e2e::commonFolder() + kSaver + ".previous-install\\");
    e2e::removeSaver(kSaver, kProgram);
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
// file.  The other file deleted with retries is a ".dll" item: held open,
// it costs its 1000 immediate attempts and is then skipped without a
// message, like any busy item; the install goes on and succeeds.
TEST_F(FaultTest, HeldLibraryItemIsRetriedBoundedlyThenSkipped) {
  e2e::FlashStandIn flash;
  PackageBuilder b = package();
  b.item(7, kLibrary, 2, bytesOf("MZ new helper"));
  std::string path = installer(b);

  DWORD start = GetTickCount();
  ASSERT_EQ(runQuiet(path).exitCode, 0);
  DWORD freeMs = ui::elapsedMs(start);
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kLibrary), "MZ new helper");

  ASSERT_TRUE(winfs::writeFile(e2e::systemFolder() + kLibrary, "MZ old helper"));
  UniqueFile held = holdOpen(e2e::systemFolder() + kLibrary);
  ASSERT_TRUE(held);
  start = GetTickCount();
  e2e::RunResult run = runQuiet(path);
  DWORD heldMs = ui::elapsedMs(start);
  held.reset();

  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kLibrary), "MZ old helper");
  EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
  EXPECT_LT(heldMs, freeMs + 15000) << "1000 attempts took " << heldMs - freeMs << " ms";
  std::printf("[ info ] install %lu ms; with the library held %lu ms\n", static_cast<unsigned long>(freeMs),
              static_cast<unsigned long>(heldMs));
  expectWorkFolderGone();
}

// --- A full disk -------------------------------------------------------------

// The common folder on a 256 KiB disk: writing a large file fails with 112,
// the install fails with that code, and the machine is as it was.
TEST_F(FaultTest, FullDiskFailsTheInstallAndLeavesTheMachineAsItWas) {
  e2e::FlashStandIn flash;
  SmallDisk disk(e2e::commonFolder(), 256);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();

  const Bytes large = noise(400 * 1024, 7);
  const std::string diskFull = systemErrorText(ERROR_DISK_FULL);
  struct Case {
    const char* name;
    PackageBuilder pkg;
    std::string dialog;  // what the failing step shows
  } cases[] = {
      {"stored member", package(saverData().add("large.bin", large)), dataFileReadErrorMessage(diskFull).text},
      {"imploded member",
       package(saverData().addImploded("large.txt", bytesOf(std::string(400 * 1024, 'x')), e2e::implode)),
       zipErrorMessage(diskFull).text},
      {"package item", package().item(9, "large.bin", 1, large),
       installErrorText(ERROR_DISK_FULL, saverFolder() + "large.bin", "")},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(treeOf(e2e::commonFolder()).empty());
    e2e::RunResult run = runQuiet(installer(c.pkg));
    EXPECT_EQ(run.exitCode, ERROR_DISK_FULL);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0].text, c.dialog);
    EXPECT_TRUE(treeOf(e2e::commonFolder()).empty());
    EXPECT_TRUE(winfs::listFolder(e2e::commonFolder()).empty());
    expectNothingOfTheSaver();
    expectWorkFolderGone();
  }
}

// --- Expansion past the announced size ------------------------------------------

// An imploded item and an imploded member that announce 1 KiB and expand to
// 100 MiB: the expansion stops at the announced size with -13 and the file
// removed.  With the common folder on a 512 KiB disk the failure is still
// -13, not a full disk: the disk never held more than the announcement.
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
    std::size_t dialogs;  // a failed item is reported, a failed member is not
  } cases[] = {
      {"item", package().rawItem(7, item, bomb), 1},
      {"member", package(saverData().addMember("bomb.bin", member, bomb)), 0},
  };
  SmallDisk disk(e2e::commonFolder(), 512);
  if (!disk.mounted()) std::printf("[ info ] without the small disk: %s\n", disk.why().c_str());
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD start = GetTickCount();
    e2e::RunResult run = runQuiet(installer(c.pkg));
    DWORD ms = ui::elapsedMs(start);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, errSizeMismatch);
    EXPECT_EQ(run.dialogs.size(), c.dialogs);
    EXPECT_LT(ms, 30000u);
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
    HWND cancel = nullptr;
    bool pressed = false;
    options.onEvent = [&](const e2e::TraceEvent& e) {
      if (e.kind == "window") cancel = e2e::formControl(e.window(), idCancelBtn);
      if (e.kind == "progress" && e.number() == step && !pressed) pressed = PostMessageA(cancel, BM_CLICK, 0, 0);
    };
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
  HWND cancel = nullptr;
  options.onEvent = [&](const e2e::TraceEvent& e) {
    if (e.kind == "window") cancel = e2e::formControl(e.window(), idCancelBtn);
    if (e.kind == "status" && e.field(0) == "Writing saver data file...") PostMessageA(cancel, BM_CLICK, 0, 0);
  };
  e2e::InstallerSession session(installer(b), options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  ui::pressButton(form, idInstallBtn);
  e2e::RunResult run = session.finish();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;  // no control panel offer
  EXPECT_TRUE(contains(run.statuses(), "Writing saver data file..."));
  EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
  EXPECT_TRUE(winfs::exists(program()));
  EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
  expectWorkFolderGone();
}

}  // namespace
