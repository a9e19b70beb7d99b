// Whole installers, built on the real stub, run under wine64.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/installer_form_win32.h"
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

// The status texts the window showed, sampled while the installer runs;
// `onStatus` is called once for each new text.
std::vector<std::string> watchStatus(e2e::InstallerSession& session, HWND form,
                                     const std::function<void(const std::string&)>& onStatus) {
  std::vector<std::string> seen;
  HWND status = ui::findControl(form, idLabCopying);
  while (session.running() && IsWindow(form)) {
    std::string text = ui::controlText(status);
    if (IsWindowVisible(status) && (seen.empty() || seen.back() != text)) {
      seen.push_back(text);
      onStatus(text);
    }
    Sleep(5);
  }
  return seen;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST_F(InstallerRunTest, InteractiveInstallThenControlPanel) {
  e2e::FlashStandIn flash;
  PackageBuilder b = fullPackage();
  b.offerControlPanel(true);
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  e2e::RunOptions options;
  options.viaLauncher = true;
  options.answer = ui::answerWithFirstOf({IDYES, IDOK, IDABORT});
  e2e::InstallerSession session(installerPath(), options);
  HWND form = session.waitForForm(5000);
  if (!form) {
    e2e::RunResult early = session.finish();
    std::string texts;
    for (const auto& d : early.dialogs) texts += d.title + ": " + d.text + " | ";
    FAIL() << "no installer window; exit " << early.exitCode << "; dialogs: " << texts;
  }

  // The ready state without a license.
  EXPECT_EQ(ui::windowTitle(form), "Install: E2E Test Saver");
  ui::ControlInfo install = ui::describeControl(ui::findControl(form, idInstallBtn));
  ui::ControlInfo cancel = ui::describeControl(ui::findControl(form, idCancelBtn));
  EXPECT_EQ(install.text, "Install");
  EXPECT_TRUE(install.enabled);
  EXPECT_EQ(install.rect.right - install.rect.left, 80);
  EXPECT_EQ(cancel.text, "Cancel");
  EXPECT_EQ(install.rect.right + 6, cancel.rect.left);
  EXPECT_FALSE(ui::describeControl(ui::findControl(form, idDoneBtn)).visible);
  EXPECT_FALSE(ui::describeControl(ui::findControl(form, idLabCopying)).visible);
  RECT wr, cr;
  GetWindowRect(form, &wr);
  GetClientRect(form, &cr);
  EXPECT_EQ(wr.right - wr.left, 490);
  EXPECT_EQ(cr.bottom, 273 + 2 + 63);
  EXPECT_TRUE(GetWindowLongA(form, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(GetWindowLongA(form, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX));

  // Install twice in quick succession, Alt+F4 and a right-click while it runs.
  HWND installButton = ui::findControl(form, idInstallBtn);
  PostMessageA(installButton, BM_CLICK, 0, 0);
  PostMessageA(installButton, BM_CLICK, 0, 0);
  bool refusedClose = false;
  std::vector<std::string> statuses = watchStatus(session, form, [&](const std::string& text) {
    if (text == "Writing screen saver files..." && !refusedClose) {
      ui::sendKey(form, ui::Key::AltF4);
      ui::rightClick(form, POINT{100, 100});
      refusedClose = true;
    }
  });
  e2e::RunResult run = session.finish();

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(contains(statuses, "Writing screen saver files..."));
  EXPECT_TRUE(contains(statuses, "Expanding files..."));
  EXPECT_TRUE(contains(statuses, "Writing saver data file..."));
  EXPECT_TRUE(contains(statuses, "Screen Saver Installation and Setup Complete."));
  // One install: the overwrite question never came, only the control panel offer.
  ASSERT_EQ(run.dialogs.size(), 1u) << run.dialogs[0].text;
  EXPECT_EQ(run.dialogs[0].title, "Confirm");
  EXPECT_EQ(run.dialogs[0].text, controlPanelQuestionMessage().text);
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kProgram), "MZ stand-in saver");
  ASSERT_GE(run.reports.size(), 3u);
  EXPECT_EQ(run.reports[run.reports.size() - 2].bytes, cstr("openScreenSaverControlPanel"));
  EXPECT_TRUE(run.reports.back().closed);
  expectWorkFolderGone();
}

RECT clientRectOf(HWND w) {
  RECT r;
  GetClientRect(w, &r);
  return r;
}
int heightOf(const RECT& r) { return r.bottom - r.top; }
int widthOf(const RECT& r) { return r.right - r.left; }

TEST_F(InstallerRunTest, ReadyWindowWithoutLicenseThenCancel) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(fullPackage())));
  e2e::RunOptions options;
  options.viaLauncher = true;
  e2e::InstallerSession session(installerPath(), options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  // Wait for the stand-in to paint, then keep a picture of the ready window.
  Sleep(500);
  e2e::screenshot("ready_without_license.png");
  EXPECT_NE(flash.journal().find("call Play"), std::string::npos) << flash.journal();
  ui::pressButton(form, idCancelBtn);
  e2e::RunResult run = session.finish();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kProgram));
  ASSERT_FALSE(run.reports.empty());
  EXPECT_TRUE(run.reports.back().closed);
  expectWorkFolderGone();
}

TEST_F(InstallerRunTest, LicenseArrangementFollowsOnlyTheHeight) {
  e2e::FlashStandIn flash;
  PackageBuilder b = fullPackage();
  b.license("license.rtf", bytesOf("{\\rtf1\\ansi {\\b License} terms of use\\par second line}"));
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  e2e::InstallerSession session(installerPath(), {});
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  Sleep(300);
  e2e::screenshot("ready_with_license.png");

  ui::ControlInfo install = ui::describeControl(ui::findControl(form, idInstallBtn));
  EXPECT_EQ(install.text, "Accept and Install");
  EXPECT_EQ(widthOf(install.rect), 115);
  HWND license = ui::findControl(form, idLicenseBox);
  ui::ControlInfo box = ui::describeControl(license);
  EXPECT_TRUE(box.visible);
  EXPECT_EQ(box.rect.top, 275);
  EXPECT_EQ(heightOf(box.rect), 103);
  EXPECT_NE(ui::controlText(license).find("License terms of use"), std::string::npos) << ui::controlText(license);
  EXPECT_EQ(heightOf(clientRectOf(form)), 273 + 2 + 103 + 4 + 63);
  EXPECT_TRUE(GetWindowLongA(form, GWL_STYLE) & WS_THICKFRAME);

  // A wider and taller window: the width stays, the license box takes the height.
  RECT before;
  GetWindowRect(form, &before);
  SetWindowPos(form, nullptr, 0, 0, 700, heightOf(before) + 120, SWP_NOMOVE | SWP_NOZORDER);
  Sleep(200);
  RECT after;
  GetWindowRect(form, &after);
  EXPECT_EQ(widthOf(after), 490);
  EXPECT_EQ(heightOf(after), heightOf(before) + 120);
  EXPECT_EQ(heightOf(ui::describeControl(license).rect), 103 + 120);
  ui::ControlInfo strip = ui::describeControl(ui::findControl(form, idButtonPanel));
  EXPECT_EQ(strip.rect.bottom, heightOf(clientRectOf(form)));
  ui::ControlInfo cancel = ui::describeControl(ui::findControl(form, idCancelBtn));
  EXPECT_EQ(cancel.rect.right, widthOf(strip.rect) - 1);

  ui::pressButton(form, idCancelBtn);
  EXPECT_EQ(session.finish().exitCode, 0);
}

TEST_F(InstallerRunTest, PlainTextLicenseIsShownAsText) {
  e2e::FlashStandIn flash;
  PackageBuilder b = fullPackage();
  b.license("license.txt", bytesOf("Plain terms, {not rich text}."));
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  e2e::InstallerSession session(installerPath(), {});
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(ui::controlText(ui::findControl(form, idLicenseBox)), "Plain terms, {not rich text}.");
  ui::pressButton(form, idCancelBtn);
  session.finish();
}

}  // namespace
