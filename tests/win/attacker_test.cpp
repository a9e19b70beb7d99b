// A stand-in local attacker: a program of the same user that, while the
// elevated installer waits in its ready window, tries to replace what the
// installer is about to use from its work folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/installer_form_win32.h"
#include "base/install_ui.h"
#include "base/process_state.h"
#include "package/package_reader_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr const char* kSaver = "Attacked Saver";
constexpr const char* kProgram = "Attacked Saver.scr";
const std::string kGenuineProgram = "MZ the genuine saver program";

class AttackerTest : public e2e::SaverTest {
protected:
  AttackerTest() : SaverTest(kSaver, kProgram) {}
};

// What the attacker may try on a file; each must fail while it is held.
void expectCannotReplace(const std::string& path) {
  SCOPED_TRACE(path);
  ASSERT_TRUE(winfs::exists(path));
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "opened for writing";
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  EXPECT_FALSE(MoveFileExA(path.c_str(), (path + ".moved").c_str(), MOVEFILE_REPLACE_EXISTING)) << "renamed";
  EXPECT_FALSE(DeleteFileA(path.c_str())) << "deleted";
  EXPECT_FALSE(CopyFileA(__FILE__, path.c_str(), FALSE)) << "overwritten by a copy";
}

TEST_F(AttackerTest, HeldPackageAndWorkFilesCannotBeReplacedBeforeInstall) {
  e2e::FlashStandIn flash;  // new enough: the carried player is written but not run
  PackageBuilder b;
  b.mode(2)
      .saverName(kSaver)
      .offerControlPanel(true)
      .item(6, kProgram, 2, bytesOf(kGenuineProgram))
      .readMe("readme.txt", bytesOf("read me"))
      .license("license.txt", bytesOf("the license"))
      .flashInstaller("install_flash_player_active_x.exe", bytesOf("MZ the genuine player installer"), 0)
      .dataFile(DataFileBuilder().add("main.swf", bytesOf("FWS\x09movie")));
  const std::string path = rootDir() + "Setup.exe";
  ASSERT_TRUE(winfs::writeFile(path, e2e::buildInstaller(b)));

  e2e::RunOptions options;
  options.answer = ui::answerWithFirstOf({IDNO, IDOK, IDABORT});
  e2e::InstallerSession session(path, options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);

  const std::string work = newWorkFolder();
  ASSERT_FALSE(work.empty());
  for (const char* name : {"temp.dat", "readme.txt", "license.txt", "install_flash_player_active_x.exe"})
    expectCannotReplace(work + name);
  // Dropping new files in (Wine does not enforce the folder's access list)
  // has no effect on what is installed.
  EXPECT_TRUE(winfs::writeFile(work + "dropped.exe", "MZ the attacker's program"));

  ui::pressButton(form, idInstallBtn);
  e2e::RunResult run = session.finish();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kProgram), kGenuineProgram);
  EXPECT_EQ(winfs::readText(e2e::commonFolder() + kSaver + "\\readme.txt"), "read me");
  EXPECT_FALSE(winfs::exists(work));
}

class SilentUi : public InstallUi {
public:
  void showStatus(const std::string&) override {}
  void stepProgress() override {}
  bool cancelRequested() override { return false; }
  void reportInstallError(ErrorCode, const std::string&) override {}
  int showMessage(const MessageSpec&) override { return IDOK; }
};

class HeldWorkFiles : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    saved_ = processState();
  }
  void TearDown() override {
    releasePackage();
    processState() = saved_;
    FolderFixture::TearDown();
  }
  ProcessState saved_;
};

// The check before the player installer runs: the held file must be the
// item's own bytes, stored or expanded; a file not written by this run is
// never accepted.
TEST_F(HeldWorkFiles, VerifyComparesTheHeldFileWithThePackage) {
  const std::string player = "install_flash_player_active_x.exe";
  PackageBuilder b;
  b.saverName("Verified")
      .flashInstaller(player, bytesOf("MZ player " + std::string(3000, 'p')), 0)
      .compressedItem(3, "preview.bin", 7, bytesOf(std::string(5000, 'x') + "end"), e2e::implode);
  ASSERT_TRUE(winfs::writeFile(workDir() + "temp.dat", b.build()));
  ProcessState& s = processState();
  s.folders.workFolder = workDir();
  s.paths.tempDatPath = workDir() + "temp.dat";
  s.header = b.header();
  releasePackage();
  SilentUi ui;
  ASSERT_EQ(extractItemFromPackage(2, "", ui), errOk);
  ASSERT_EQ(extractItemFromPackage(3, "", ui), errOk);

  EXPECT_EQ(verifyWorkFile(2, workDir() + player), errOk);
  EXPECT_EQ(verifyWorkFile(3, workDir() + "preview.bin"), errOk);
  EXPECT_EQ(verifyWorkFile(3, workDir() + player), errChecksumMismatch);
  EXPECT_EQ(verifyWorkFile(2, workDir() + "preview.bin"), errChecksumMismatch);
  // A file of the right name that this run did not write.
  ASSERT_TRUE(winfs::writeFile(workDir() + "planted.exe", "MZ player"));
  EXPECT_EQ(verifyWorkFile(2, workDir() + "planted.exe"), errChecksumMismatch);
  releasePackage();
  EXPECT_EQ(verifyWorkFile(2, workDir() + player), errChecksumMismatch);
}

}  // namespace
