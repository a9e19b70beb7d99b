// Upgrades that never lose the earlier installation: a failed, cancelled
// or killed install leaves exactly the old installation (or, killed after
// its commit, exactly the new one) and no backup anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "app/installer_form_win32.h"
#include "system/install_journal.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr const char* kSaver = "Rollback Test Saver";
constexpr const char* kProgram = "Rollback Test Saver.scr";

// Leftovers of an unfinished install: backups or a journal.
std::vector<std::string> leftovers() {
  std::vector<std::string> found;
  for (const std::string& folder : {e2e::commonFolder(), e2e::systemFolder()})
    for (const std::string& name : winfs::listFolder(folder))
      if (name.find(std::string(kBackupSuffix)) != std::string::npos || name.find(".install-journal") != std::string::npos)
        found.push_back(folder + name);
  return found;
}

class RollbackTest : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    e2e::removeSaver(kSaver, kProgram);
    winfs::removeTree(e2e::commonFolder() + "rbshared.dll");
  }
  void TearDown() override {
    e2e::removeSaver(kSaver, kProgram);
    DeleteFileA((e2e::commonFolder() + "rbshared.dll").c_str());
    FolderFixture::TearDown();
  }

  // Version v of the saver: its program, a shared library in the common
  // folder, and files of its own.
  std::string installer(int v, bool damagedMember = false) {
    std::string tag = std::string("v").append(std::to_string(v));
    DataFileBuilder data;
    if (damagedMember) {  // expands to fewer bytes than its header says
      Bytes stored = e2e::implode(bytesOf("short"));
      MemberHeader header;
      header.fileSize = 1000;
      header.storedSize = static_cast<std::int32_t>(stored.size());
      header.isImploded = 1;
      data.addMember("damaged.bin", header, stored);
      tag += "d";
    }
    data.add("a.txt", bytesOf(tag + " a")).add(std::string("sub\\").append(tag).append(".txt"), bytesOf(tag + " nested"));
    if (v == 2) data.addImploded("big.txt", bytesOf(std::string(4000, 'z')), e2e::implode);
    PackageBuilder b;
    b.mode(2).saverName(kSaver).item(6, kProgram, 2, bytesOf(std::string("MZ program ").append(tag)))
        .item(10, "rbshared", 3, bytesOf(std::string("shared library ").append(tag))).dataFile(data);
    std::string path = rootDir() + "Setup";
    path.append(tag).append(".exe");
    EXPECT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));
    return path;
  }

  std::string state() const {
    std::string s = winfs::fingerprint(e2e::commonFolder() + kSaver + "\\") + "#" + winfs::fingerprint(e2e::systemFolder() + kProgram) +
                    "#" + winfs::fingerprint(e2e::commonFolder() + "rbshared.dll") + "#";
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      s += e2e::uninstallEntryExists(kSaver, root)
               ? e2e::uninstallValue(kSaver, "DisplayName", root) + "|" + e2e::uninstallValue(kSaver, "UninstallString", root) + ";"
               : "none;";
    return s;
  }

  void installQuietly(const std::string& path) {
    e2e::RunOptions quiet;
    quiet.args = {"/q"};
    ASSERT_EQ(e2e::runInstaller(path, quiet).exitCode, 0);
  }

  // Starts the installer, presses Install, answers OK to the overwrite
  // question; `onEvent` sees every event with its number.
  e2e::RunResult interactiveInstall(const std::string& path, const std::function<void(int, e2e::InstallerSession&)>& onEvent) {
    e2e::InstallerSession* current = nullptr;
    int count = 0;
    e2e::RunOptions options;
    options.answer = ui::answerWithFirstOf({IDOK, IDABORT});
    options.onEvent = [&](const e2e::TraceEvent&) {
      if (current) onEvent(++count, *current);
    };
    e2e::InstallerSession session(path, options);
    current = &session;
    HWND form = session.waitForForm();
    if (form) ui::pressButton(form, idInstallBtn);
    return session.finish();
  }
};

// Cancel or a failure after the earlier installation was set aside: it is
// all back, byte for byte, and nothing is left over.
TEST_F(RollbackTest, FailedAndCancelledUpgradesLeaveTheOldInstallation) {
  e2e::FlashStandIn flash;
  const std::string v1 = installer(1), v2 = installer(2);
  installQuietly(v2);
  const std::string upgraded = state();
  e2e::removeSaver(kSaver, kProgram);
  installQuietly(v1);
  const std::string old = state();
  ASSERT_NE(old, upgraded);

  // Cancel while the files are written.
  e2e::RunOptions options;
  options.answer = ui::answerWithFirstOf({IDOK, IDABORT});
  bool pressed = false;
  options.onEvent = e2e::pressCancelAt(e2e::atStatus("Expanding files..."), &pressed);
  {
    e2e::InstallerSession session(v2, options);
    HWND shown = session.waitForForm();
    ASSERT_NE(shown, nullptr);
    ui::pressButton(shown, idInstallBtn);
    ASSERT_TRUE(session.waitForInstallEnd());
    ui::pressButton(shown, idCancelBtn);  // back at the ready window: close it
    session.finish();
  }
  EXPECT_TRUE(pressed);
  EXPECT_EQ(state(), old);
  EXPECT_TRUE(leftovers().empty());

  // Cancel after each progress step.
  for (int step = 1;; ++step) {
    SCOPED_TRACE(std::string("cancel after step ").append(std::to_string(step)));
    bool cancelled = false;
    e2e::RunOptions stepOptions;
    stepOptions.answer = ui::answerWithFirstOf({IDOK, IDABORT});
    stepOptions.onEvent = e2e::pressCancelAt(e2e::atProgress(step), &cancelled);
    e2e::InstallerSession session(v2, stepOptions);
    HWND shown = session.waitForForm();
    ASSERT_NE(shown, nullptr);
    ui::pressButton(shown, idInstallBtn);
    ASSERT_TRUE(session.waitForInstallEnd());
    if (!cancelled) {  // past the last step: the install stands
      session.finish();
      EXPECT_EQ(state(), upgraded);
      installQuietly(v1);
      ASSERT_GT(step, 3);
      break;
    }
    ui::pressButton(shown, idCancelBtn);
    session.finish();
    EXPECT_EQ(state(), old);
    EXPECT_TRUE(leftovers().empty());
  }
  ASSERT_EQ(state(), old);

  // A member that expands to the wrong size.
  e2e::RunOptions quietly;
  quietly.args = {"/q"};
  EXPECT_EQ(e2e::runInstaller(installer(2, true), quietly).exitCode, errSizeMismatch);
  EXPECT_EQ(state(), old);
  EXPECT_TRUE(leftovers().empty());

  // A file of the earlier saver folder in use.  Where the system will not
  // move a folder with an open file (Windows) the install stops and the
  // earlier installation is untouched; where it does (Wine) the new one is
  // written whole.  Never a mixture.
  {
    UniqueFile held = winfs::holdOpen(e2e::commonFolder() + kSaver + "\\a.txt");
    ASSERT_TRUE(held);
    int exitCode = e2e::runInstaller(v2, quietly).exitCode;
    held.reset();
    if (exitCode == 0) {
      EXPECT_EQ(state(), upgraded);
    } else {
      EXPECT_EQ(exitCode, errFileBusy);
      EXPECT_EQ(state(), old);
    }
    winfs::removeTree(e2e::commonFolder() + kSaver + std::string(kBackupSuffix) + "\\");
    installQuietly(v1);
  }
  EXPECT_EQ(state(), old);
  EXPECT_TRUE(leftovers().empty());

  // A step that fails at the very end, quietly.
  SetEnvironmentVariableA("BRINDLEFAX_TEST_RAISE_IN", "registerUninstall");
  e2e::RunOptions quiet;
  quiet.args = {"/q"};
  e2e::RunResult run = e2e::runInstaller(v2, quiet);
  SetEnvironmentVariableA("BRINDLEFAX_TEST_RAISE_IN", nullptr);
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(state(), old);
  EXPECT_TRUE(leftovers().empty());

  // And a successful upgrade leaves no backup either.
  installQuietly(v2);
  EXPECT_EQ(state(), upgraded);
  EXPECT_TRUE(leftovers().empty());
}

// The installer killed at every event of an upgrade, then started again and
// cancelled at its ready window: exactly the old installation, or exactly
// the new one when the kill came after the commit; never a mixture, and no
// backup left.
TEST_F(RollbackTest, KilledAnywhereTheNextRunRestoresOneWholeInstallation) {
  e2e::FlashStandIn flash;
  const std::string v1 = installer(1), v2 = installer(2);
  installQuietly(v1);
  const std::string old = state();

  // One whole upgrade, to number its events.
  int commitEvent = 0;
  e2e::RunResult full = interactiveInstall(v2, [&](int, e2e::InstallerSession&) {});
  ASSERT_EQ(full.exitCode, 0);
  for (size_t i = 0; i < full.events.size(); ++i)
    if (full.events[i].kind == "journal" && full.events[i].field(0) == "committed") commitEvent = static_cast<int>(i) + 1;
  ASSERT_GT(commitEvent, 0);
  const std::string upgraded = state();
  ASSERT_NE(upgraded, old);
  EXPECT_TRUE(leftovers().empty());
  const int total = static_cast<int>(full.events.size());

  // The first event after the Install click is where the install begins.
  int first = 0;
  for (size_t i = 0; i < full.events.size(); ++i)
    if (full.events[i].kind == "window") first = static_cast<int>(i) + 2;
  ASSERT_GT(first, 0);
  std::vector<int> points;
  for (int k = first; k <= total; ++k) points.push_back(k);
  ASSERT_GE(points.size(), 20u) << "too few events to kill at";
  std::printf("[ info ] killed at %zu events (%d to %d; commit at %d)\n", points.size(), first, total, commitEvent);

  for (int k : points) {
    const e2e::TraceEvent& at = full.events[static_cast<size_t>(k - 1)];
    std::string where = std::string("killed at event ").append(std::to_string(k)).append(" of ");
    where.append(std::to_string(total)).append(": ").append(at.kind).append(" ").append(at.field(0));
    SCOPED_TRACE(where);
    installQuietly(v1);
    ASSERT_EQ(state(), old);
    interactiveInstall(v2, [k](int n, e2e::InstallerSession& s) {
      if (n == k) s.kill();
    });
    // The next run recovers at start-up; Cancel at its ready window.
    {
      e2e::InstallerSession next(v2, {});
      HWND form = next.waitForForm();
      ASSERT_NE(form, nullptr);
      ui::pressButton(form, idCancelBtn);
      next.finish();
    }
    EXPECT_EQ(state(), k >= commitEvent ? upgraded : old);
    EXPECT_TRUE(leftovers().empty());
  }
}

}  // namespace
