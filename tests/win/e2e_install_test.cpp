// Whole installers, built on the real stub, run under wine64.
#include <gtest/gtest.h>

#include "app/messages.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string cstr(const std::string& s) { return s + std::string(1, '\0'); }

class InstallerRunTest : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    ASSERT_EQ(e2e::stubBytes().size(), 691200u);
    e2e::removeSaver(kSaver, kProgram);
    workFoldersBefore_ = e2e::workFolders();
  }
  void TearDown() override {
    e2e::removeSaver(kSaver, kProgram);
    FolderFixture::TearDown();
  }

  // A package with every kind of content: nested, stored and imploded
  // members, a copy entry, a read-me.
  PackageBuilder fullPackage() const {
    Bytes text = bytesOf(std::string(5000, 'a') + "the quick brown fox jumps over the lazy dog");
    DataFileBuilder data;
    data.add("main.swf", bytesOf("FWS\x09movie"))
        .add("sub\\deeper\\notes.txt", bytesOf("nested file"))
        .addImploded("big.txt", text, e2e::implode)
        .addCopy("copy of main.swf");
    PackageBuilder b;
    b.mode(2).saverName(kSaver).item(6, kProgram, 2, bytesOf("MZ stand-in saver")).readMe("readme.txt", bytesOf("read me"))
        .dataFile(data);
    return b;
  }

  std::string installerPath(const std::string& name = "Setup.exe") const { return rootDir() + name; }

  void expectWorkFolderGone() const { EXPECT_EQ(e2e::workFolders(), workFoldersBefore_); }

  static constexpr const char* kSaver = "E2E Test Saver";
  static constexpr const char* kProgram = "E2E Test Saver.scr";
  std::vector<std::string> workFoldersBefore_;
};

TEST_F(InstallerRunTest, QuietInstallWritesEverythingAndReportsInOrder) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(fullPackage())));
  e2e::RunOptions options;
  options.args = {"/q"};
  options.viaLauncher = true;
  e2e::RunResult run = e2e::runInstaller(installerPath(), options);

  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty()) << (run.dialogs.empty() ? "" : run.dialogs[0].text);
  std::string saver = e2e::commonFolder() + kSaver + "\\";
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kProgram), "MZ stand-in saver");
  EXPECT_EQ(winfs::readText(saver + "main.swf"), "FWS\x09movie");
  EXPECT_EQ(winfs::readText(saver + "sub\\deeper\\notes.txt"), "nested file");
  EXPECT_EQ(winfs::fileSize(saver + "big.txt"), 5043);
  EXPECT_EQ(winfs::readText(saver + "copy of main.swf"), "FWS\x09movie");
  EXPECT_EQ(winfs::readText(saver + "readme.txt"), "read me");
  EXPECT_EQ(winfs::fileSize(saver + "saver.dat"), 1240);
  EXPECT_EQ(e2e::uninstallValue(kSaver, "DisplayName"), "E2E Test Saver");
  EXPECT_EQ(e2e::uninstallValue(kSaver, "UninstallString"), e2e::systemFolder() + kSaver + ".scr /u");

  std::string all;
  for (const auto& r : run.reports) all += (r.closed ? std::string("<closed>") : r.bytes) + "|";
  ASSERT_EQ(run.reports.size(), 4u) << all;
  EXPECT_EQ(run.reports[0].bytes, cstr("read installer heard file"));
  EXPECT_EQ(run.reports[1].bytes, cstr("quiet installer"));
  EXPECT_EQ(run.reports[2].bytes, cstr(cstr(std::string("makeActiveSaver-") + kProgram)));
  EXPECT_EQ(run.reports[2].cbData, std::string(kProgram).size() + 18);
  EXPECT_TRUE(run.reports[0].senderGiven);
  EXPECT_TRUE(run.reports[3].closed);
  expectWorkFolderGone();
}

TEST_F(InstallerRunTest, StubWithoutPackageShowsBothDialogs) {
  ASSERT_TRUE(winfs::writeFile(installerPath("Bare.exe"), e2e::stubBytes()));
  e2e::RunResult run = e2e::runInstaller(installerPath("Bare.exe"), {});
  EXPECT_FALSE(run.timedOut);
  EXPECT_NE(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 2u);
  EXPECT_EQ(run.dialogs[0].title, "Error");
  EXPECT_EQ(run.dialogs[0].text.rfind("Installation Error: ", 0), 0u) << run.dialogs[0].text;
  EXPECT_NE(run.dialogs[0].text.find("temp.dat"), std::string::npos);
  EXPECT_EQ(run.dialogs[1].text, "Installer file is corrupted. Brindlefax Error: -31. ");
  expectWorkFolderGone();
}

TEST_F(InstallerRunTest, NoPlayerAndNoneCarriedStopsBeforeInstalling) {
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(fullPackage())));
  e2e::RunOptions options;
  options.args = {"/q"};
  e2e::RunResult run = e2e::runInstaller(installerPath(), options);
  EXPECT_FALSE(run.timedOut);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].title, "Information");
  EXPECT_EQ(run.dialogs[0].text, startupErrorMessage(errFlashPlayerMissing).text);
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kProgram));
  EXPECT_FALSE(winfs::exists(e2e::commonFolder() + kSaver));
  EXPECT_FALSE(e2e::uninstallEntryExists(kSaver));
  expectWorkFolderGone();
}

}  // namespace
