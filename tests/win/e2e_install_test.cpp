// Whole installers, built on the real stub, run under wine64.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <windows.h>
#include <tlhelp32.h>

#include "app/installer_form_win32.h"
#include "base/messages.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string cstr(const std::string& s) { return s + std::string(1, '\0'); }

class InstallerRunTest : public e2e::SaverTest {
protected:
  InstallerRunTest() : SaverTest(kSaver, kProgram) {}

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

  static constexpr const char* kSaver = "E2E Test Saver";
  static constexpr const char* kProgram = "E2E Test Saver.scr";
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

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

RECT clientRectOf(HWND w) {
  RECT r;
  GetClientRect(w, &r);
  return r;
}
int heightOf(const RECT& r) { return r.bottom - r.top; }
int widthOf(const RECT& r) { return r.right - r.left; }

bool overlaps(const RECT& a, const RECT& b) {
  RECT common;
  return IntersectRect(&common, &a, &b) != FALSE;
}
bool inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The window's arrangement: its visible parts and the buttons in their
// strip lie inside it without overlapping; the preview on top, the license
// (when shown) below it, the button strip across the bottom, Install left
// of Cancel.
void expectLaidOut(HWND form) {
  const RECT client = clientRectOf(form);
  for (HWND parent : {form, ui::findControl(form, idButtonPanel)}) {
    std::vector<ui::ControlInfo> parts;
    for (const ui::ControlInfo& c : ui::children(parent))
      if (c.visible) parts.push_back(c);
    const RECT area = clientRectOf(parent);
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_TRUE(inside(parts[i].rect, area)) << "control " << parts[i].id << " sticks out of " << ui::windowClass(parent);
      for (size_t j = i + 1; j < parts.size(); ++j)
        EXPECT_FALSE(overlaps(parts[i].rect, parts[j].rect)) << "controls " << parts[i].id << " and " << parts[j].id;
    }
  }
  const RECT preview = ui::describeControl(ui::findControl(form, idContentPanel)).rect;
  const RECT strip = ui::describeControl(ui::findControl(form, idButtonPanel)).rect;
  EXPECT_LE(preview.top, 1);
  EXPECT_GE(strip.top, preview.bottom);
  EXPECT_EQ(strip.bottom, client.bottom);
  ui::ControlInfo license = ui::describeControl(ui::findControl(form, idLicenseBox));
  if (license.visible) {
    EXPECT_GE(license.rect.top, preview.bottom);
    EXPECT_LE(license.rect.bottom, strip.top);
  }
  const RECT install = ui::describeControl(ui::findControl(form, idInstallBtn)).rect;
  const RECT cancel = ui::describeControl(ui::findControl(form, idCancelBtn)).rect;
  EXPECT_LT(install.right, cancel.left);
  EXPECT_EQ(install.top, cancel.top);
}

BOOL CALLBACK findPopupMenu(HWND w, LPARAM lp) {
  if (ui::windowClass(w) != "#32768" || !IsWindowVisible(w)) return TRUE;
  *reinterpret_cast<HWND*>(lp) = w;
  return FALSE;
}

// A visible popup menu ("#32768") of the thread that owns the window, if any.
HWND popupMenuOf(HWND window) {
  HWND found = nullptr;
  EnumThreadWindows(GetWindowThreadProcessId(window, nullptr), findPopupMenu, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Every dialog's text, for failure messages.
std::string dialogTexts(const e2e::RunResult& run) {
  std::string texts;
  for (const auto& d : run.dialogs) texts += d.title + ": " + d.text + " | ";
  return texts;
}

TEST_F(InstallerRunTest, InteractiveInstallThenControlPanel) {
  e2e::FlashStandIn flash;
  PackageBuilder b = fullPackage();
  b.offerControlPanel(true);
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  e2e::RunOptions options;
  options.viaLauncher = true;
  options.answer = ui::answerWithFirstOf({IDYES, IDOK, IDABORT});
  // Alt+F4 and a right-click on the movie while it installs, posted while
  // the installer waits in a status event: its loop handles both before
  // the install goes on.  Neither closes the window nor opens a menu; every
  // later event finds the window there and no menu up.
  HWND shown = nullptr;
  std::string clicked;
  bool keyPosted = false, menuSeen = false, stayed = false;
  options.onEvent = [&](const e2e::TraceEvent& e) {
    if (e.kind == "window") shown = e.window();
    if (keyPosted && popupMenuOf(shown)) menuSeen = true;
    if (e.kind == "status" && e.field(0) == "Writing screen saver files..." && !keyPosted) {
      keyPosted = ui::sendKey(shown, ui::Key::AltF4);
      clicked = ui::windowClass(ui::rightClick(shown, POINT{100, 100}));
    }
    if (e.kind == "install end") stayed = IsWindow(shown) && IsWindowVisible(shown);
  };
  e2e::InstallerSession session(installerPath(), options);
  HWND form = session.waitForForm(30000);
  if (!form) {
    e2e::RunResult early = session.finish();
    FAIL() << "no installer window; exit " << early.exitCode << "; dialogs: " << dialogTexts(early);
  }

  // The ready state without a license.
  EXPECT_EQ(ui::windowTitle(form), "Install: E2E Test Saver");
  ui::ControlInfo install = ui::describeControl(ui::findControl(form, idInstallBtn));
  ui::ControlInfo cancel = ui::describeControl(ui::findControl(form, idCancelBtn));
  EXPECT_EQ(install.text, "Install");
  EXPECT_TRUE(install.enabled);
  EXPECT_EQ(cancel.text, "Cancel");
  EXPECT_FALSE(ui::describeControl(ui::findControl(form, idDoneBtn)).visible);
  EXPECT_FALSE(ui::describeControl(ui::findControl(form, idLabCopying)).visible);
  EXPECT_FALSE(ui::describeControl(ui::findControl(form, idLicenseBox)).visible);
  expectLaidOut(form);
  EXPECT_TRUE(GetWindowLongA(form, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(GetWindowLongA(form, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX));

  // Install twice in quick succession.
  HWND installButton = ui::findControl(form, idInstallBtn);
  PostMessageA(installButton, BM_CLICK, 0, 0);
  PostMessageA(installButton, BM_CLICK, 0, 0);
  e2e::RunResult run = session.finish();
  std::vector<std::string> statuses = run.statuses();

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(keyPosted);
  EXPECT_EQ(clicked, "FlashStandinWindow");  // the click went to the movie
  const std::string journal = flash.journal();
  EXPECT_NE(journal.find("right button up"), std::string::npos) << journal;
  EXPECT_EQ(journal.find("context menu"), std::string::npos) << journal;
  EXPECT_FALSE(menuSeen);
  EXPECT_TRUE(stayed);
  EXPECT_TRUE(contains(statuses, "Writing screen saver files..."));
  EXPECT_TRUE(contains(statuses, "Expanding files..."));
  EXPECT_TRUE(contains(statuses, "Writing saver data file..."));
  EXPECT_TRUE(contains(statuses, "Screen Saver Installation and Setup Complete."));
  // One install: the overwrite question never came, only the control panel offer.
  ASSERT_EQ(run.dialogs.size(), 1u) << dialogTexts(run);
  EXPECT_EQ(run.dialogs[0].title, "Confirm");
  EXPECT_EQ(run.dialogs[0].text, controlPanelQuestionMessage().text);
  EXPECT_EQ(winfs::readText(e2e::systemFolder() + kProgram), "MZ stand-in saver");
  // The window closed once, after the install had ended.
  std::vector<std::string> order;
  for (const e2e::TraceEvent& e : run.events)
    if (e.kind == "install end" || e.kind == "launcher closed") order.push_back(e.kind);
  EXPECT_EQ(order, (std::vector<std::string>{"install end", "launcher closed"}));
  ASSERT_GE(run.reports.size(), 3u);
  EXPECT_EQ(run.reports[run.reports.size() - 2].bytes, cstr("openScreenSaverControlPanel"));
  EXPECT_TRUE(run.reports.back().closed);
  expectWorkFolderGone();
}

TEST_F(InstallerRunTest, ReadyWindowWithoutLicenseThenCancel) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(fullPackage())));
  e2e::RunOptions options;
  options.viaLauncher = true;
  e2e::InstallerSession session(installerPath(), options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  // The window and the stand-in painted (before RedrawWindow returns), then a
  // picture of the ready window.
  RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
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
  RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  e2e::screenshot("ready_with_license.png");

  ui::ControlInfo install = ui::describeControl(ui::findControl(form, idInstallBtn));
  EXPECT_EQ(install.text, "Accept and Install");
  HWND license = ui::findControl(form, idLicenseBox);
  ui::ControlInfo box = ui::describeControl(license);
  EXPECT_TRUE(box.visible);
  EXPECT_NE(ui::controlText(license).find("License terms of use"), std::string::npos) << ui::controlText(license);
  expectLaidOut(form);
  EXPECT_TRUE(GetWindowLongA(form, GWL_STYLE) & WS_THICKFRAME);

  // A wider and taller window: the width stays, the license box takes the
  // height.  (The window is resized by a message its thread handles before
  // SetWindowPos returns.)
  RECT before;
  GetWindowRect(form, &before);
  const RECT previewBefore = ui::describeControl(ui::findControl(form, idContentPanel)).rect;
  SetWindowPos(form, nullptr, 0, 0, widthOf(before) + 210, heightOf(before) + 120, SWP_NOMOVE | SWP_NOZORDER);
  RECT after;
  GetWindowRect(form, &after);
  EXPECT_EQ(widthOf(after), widthOf(before));
  EXPECT_EQ(heightOf(after), heightOf(before) + 120);
  EXPECT_EQ(heightOf(ui::describeControl(license).rect), heightOf(box.rect) + 120);
  const RECT previewAfter = ui::describeControl(ui::findControl(form, idContentPanel)).rect;
  EXPECT_TRUE(EqualRect(&previewAfter, &previewBefore));
  expectLaidOut(form);

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

// A 24-bit Windows bitmap of w x h pixels in one colour.
Bytes bitmapOf(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  int stride = (w * 3 + 3) & ~3;
  std::uint32_t pixels = static_cast<std::uint32_t>(stride * h), size = 54 + pixels;
  Bytes bmp(size, 0);
  auto le32 = [&](size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  le32(2, size);
  le32(10, 54);
  le32(14, 40);
  le32(18, static_cast<std::uint32_t>(w));
  le32(22, static_cast<std::uint32_t>(h));
  bmp[26] = 1;
  bmp[28] = 24;
  le32(34, pixels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      size_t at = 54 + static_cast<size_t>(y * stride + x * 3);
      bmp[at] = b;
      bmp[at + 1] = g;
      bmp[at + 2] = r;
    }
  return bmp;
}

bool visible(HWND form, int id) { return ui::describeControl(ui::findControl(form, id)).visible; }

// Each preview mode shows its picture, or the movie, or nothing.
TEST_F(InstallerRunTest, PreviewModes) {
  e2e::FlashStandIn flash;
  Bytes jpeg = winfs::readFile(winfs::hostPath(TEST_FIXTURES_DIR "/previews/preview.jpg"));
  ASSERT_FALSE(jpeg.empty());
  struct Case {
    const char* name;
    std::uint8_t mode;
    std::string previewName;
    Bytes preview;
    bool image, movie, corruptDialog;
  } cases[] = {
      {"bitmap", 1, "preview.dat", bitmapOf(48, 27, 0x30, 0xA0, 0x30), true, false, false},
      {"jpeg", 8, "preview", jpeg, true, false, false},
      {"broken jpeg", 8, "preview.bin", bytesOf("not a picture at all"), true, false, true},
      {"movie", 2, "installer.swf", {}, false, true, false},
      {"none", 0, "installer.swf", {}, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    flash.clearJournal();
    PackageBuilder b = fullPackage();
    b.mode(c.mode);
    if (!c.preview.empty()) b.preview(c.previewName, c.preview);
    ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
    e2e::InstallerSession session(installerPath(), {});
    HWND form = session.waitForForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(visible(form, idBmpPanel), c.image);
    EXPECT_EQ(flash.journal().find("call Play") != std::string::npos, c.movie);
    if (c.mode == 8 && !c.corruptDialog) e2e::screenshot("ready_jpeg_preview.png");
    ui::pressButton(form, idCancelBtn);
    e2e::RunResult run = session.finish();
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.dialogs.size(), c.corruptDialog ? 1u : 0u);
    if (c.corruptDialog) {
      EXPECT_EQ(run.dialogs[0].text, "CorruptFile: ");
    }
  }
}

// Answers the overwrite question with Cancel, everything else with its first button.
ui::DialogRule declineOverwrite() {
  return [](const ui::DialogRecord& d) {
    if (d.text.find("already exists") != std::string::npos) return IDCANCEL;
    return d.buttons.empty() ? IDOK : d.buttons.front().id;
  };
}

TEST_F(InstallerRunTest, OverwriteDeclinedKeepsTheEarlierInstallation) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(fullPackage())));
  e2e::RunOptions quiet;
  quiet.args = {"/q"};
  ASSERT_EQ(e2e::runInstaller(installerPath(), quiet).exitCode, 0);
  std::string saver = e2e::commonFolder() + kSaver + "\\";
  std::vector<std::string> before = winfs::listFolder(saver);
  Bytes big = winfs::readFile(saver + "big.txt");
  ASSERT_FALSE(big.empty());

  // A newer package of the same saver, declined.
  PackageBuilder newer = fullPackage();
  newer.dataFile(DataFileBuilder().add("other.txt", bytesOf("newer")));
  ASSERT_TRUE(winfs::writeFile(installerPath("Newer.exe"), e2e::buildInstaller(newer)));
  e2e::RunOptions interactive;
  interactive.answer = declineOverwrite();
  e2e::InstallerSession session(installerPath("Newer.exe"), interactive);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  ui::pressButton(form, idInstallBtn);
  // Back to ready once the install sequence has ended: Install enabled again, status empty.
  HWND install = ui::findControl(form, idInstallBtn);
  int result = 0;
  ASSERT_TRUE(session.waitForInstallEnd(&result));
  EXPECT_EQ(result, errUserAbort);
  EXPECT_TRUE(IsWindowEnabled(install));
  EXPECT_EQ(ui::controlText(ui::findControl(form, idLabCopying)), "");
  EXPECT_EQ(winfs::listFolder(saver), before);
  EXPECT_EQ(winfs::readFile(saver + "big.txt"), big);
  ui::pressButton(form, idCancelBtn);
  e2e::RunResult run = session.finish();
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].text, std::string(kSaver) + " screen saver already exists. Overwrite?");
  EXPECT_EQ(run.dialogs[0].title, "Confirm");

  // Quiet mode replaces it without a question.
  ASSERT_EQ(e2e::runInstaller(installerPath("Newer.exe"), quiet).dialogs.size(), 0u);
  EXPECT_EQ(winfs::readText(saver + "other.txt"), "newer");
  EXPECT_FALSE(winfs::exists(saver + "big.txt"));
}

TEST_F(InstallerRunTest, CancelDuringExtractionRemovesEverything) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(fullPackage())));
  e2e::RunOptions options;
  options.viaLauncher = true;
  bool pressed = false;
  options.onEvent = e2e::pressCancelAt(e2e::atStatus("Writing screen saver files..."), &pressed);
  e2e::InstallerSession session(installerPath(), options);
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  ui::pressButton(form, idInstallBtn);
  e2e::RunResult run = session.finish();
  std::vector<std::string> statuses = run.statuses();
  EXPECT_TRUE(pressed);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(contains(statuses, "Installation Aborted. Cleaning up files..."));
  EXPECT_FALSE(contains(statuses, "Expanding files..."));
  EXPECT_FALSE(winfs::exists(e2e::commonFolder() + kSaver));
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kProgram));
  EXPECT_FALSE(e2e::uninstallEntryExists(kSaver));
  for (const auto& r : run.reports)
    EXPECT_EQ(r.bytes.find("makeActiveSaver-"), std::string::npos) << "the saver was announced";
  expectWorkFolderGone();
}

// A member whose expansion has the wrong size: the install fails with -13,
// removes what it wrote, and only Cancel goes on.
TEST_F(InstallerRunTest, FailingInstallCleansUpAndOffersOnlyCancel) {
  e2e::FlashStandIn flash;
  Bytes content = bytesOf(std::string(3000, 'z'));
  Bytes stored = e2e::implode(content);
  MemberHeader wrong;
  wrong.fileSize = static_cast<std::int32_t>(content.size() + 5);
  wrong.storedSize = static_cast<std::int32_t>(stored.size());
  wrong.isImploded = 1;
  PackageBuilder b = fullPackage();
  b.dataFile(DataFileBuilder().add("first.txt", bytesOf("ok")).addMember("wrong.bin", wrong, stored));
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  e2e::InstallerSession session(installerPath(), {});
  HWND form = session.waitForForm();
  ASSERT_NE(form, nullptr);
  ui::pressButton(form, idInstallBtn);
  int result = 0;
  ASSERT_TRUE(session.waitForInstallEnd(&result));
  EXPECT_EQ(result, errSizeMismatch);
  EXPECT_EQ(ui::controlText(ui::findControl(form, idLabCopying)), "Install failed. Error: -13");
  EXPECT_FALSE(IsWindowEnabled(ui::findControl(form, idInstallBtn)));
  EXPECT_TRUE(IsWindowEnabled(ui::findControl(form, idCancelBtn)));
  EXPECT_FALSE(visible(form, idDoneBtn));
  EXPECT_FALSE(winfs::exists(e2e::commonFolder() + kSaver));
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kProgram));
  EXPECT_FALSE(e2e::uninstallEntryExists(kSaver));
  ui::pressButton(form, idCancelBtn);
  e2e::RunResult run = session.finish();
  EXPECT_FALSE(run.timedOut);
  expectWorkFolderGone();

  // Quietly, the failure is the exit code.
  e2e::RunOptions quiet;
  quiet.args = {"/q"};
  EXPECT_EQ(e2e::runInstaller(installerPath(), quiet).exitCode, errSizeMismatch);
  EXPECT_FALSE(winfs::exists(e2e::commonFolder() + kSaver));
}

// A movie the panel cannot play: the install runs in the preparing window.
TEST_F(InstallerRunTest, CorruptMovieInstallsWithoutTheWindow) {
  e2e::FlashStandIn flash;
  PackageBuilder b = fullPackage();
  b.preview("installer.swf", bytesOf(std::string("CWS\x0a\x20\x00\x00\x00") + "this is not a zlib stream"));
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  e2e::RunOptions options;
  options.viaLauncher = true;
  options.answer = ui::answerWithFirstOf({IDYES, IDOK, IDABORT});
  e2e::RunResult run = e2e::runInstaller(installerPath(), options);
  EXPECT_FALSE(run.windowShown());
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].text, controlPanelQuestionMessage().text);
  EXPECT_TRUE(winfs::exists(e2e::systemFolder() + kProgram));
  EXPECT_EQ(winfs::fileSize(e2e::commonFolder() + kSaver + "\\saver.dat"), 1240);
  ASSERT_GE(run.reports.size(), 2u);
  EXPECT_EQ(run.reports[run.reports.size() - 2].bytes, cstr("openScreenSaverControlPanel"));
}

// Quiet by the package header: the control panel request goes to the launcher,
// but not when "/q" asked for the quiet run.
TEST_F(InstallerRunTest, HeaderQuietModeAsksTheLauncherForTheControlPanel) {
  e2e::FlashStandIn flash;
  PackageBuilder b = fullPackage();
  b.mode(4).offerControlPanel(true);
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  for (bool switchGiven : {false, true}) {
    SCOPED_TRACE(switchGiven ? "with /q" : "header only");
    e2e::RunOptions options;
    options.viaLauncher = true;
    if (switchGiven) options.args = {"/q"};
    e2e::RunResult run = e2e::runInstaller(installerPath(), options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.dialogs.empty());
    bool asked = false;
    for (const auto& r : run.reports) asked |= r.bytes == cstr("openScreenSaverControlPanel");
    EXPECT_EQ(asked, !switchGiven);
  }
}

// Waits until no process runs a program from folder (found by the paths of
// their images); false when one is still running after the limit.
bool waitForProgramsIn(const std::string& folder) {
  UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  bool allEnded = true;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) continue;
    char image[MAX_PATH * 2] = {};
    DWORD size = sizeof image;
    if (!QueryFullProcessImageNameA(process.get(), 0, image, &size)) continue;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, image, static_cast<int>(std::min<size_t>(size, folder.size())),
                       folder.c_str(), static_cast<int>(folder.size())) != CSTR_EQUAL)
      continue;
    allEnded = WaitForSingleObject(process.get(), ui::kDefaultTimeoutMs) == WAIT_OBJECT_0 && allEnded;
  }
  return allEnded;
}

// A carried player installer that installs nothing: -416, window never shown.
TEST_F(InstallerRunTest, FailedPlayerInstallationStopsTheStartUp) {
  PackageBuilder b = fullPackage();
  ASSERT_TRUE(e2e::carryBrokenPlayerInstaller(b));
  ASSERT_TRUE(winfs::writeFile(installerPath(), e2e::buildInstaller(b)));
  e2e::RunResult run = e2e::runInstaller(installerPath(), {});
  EXPECT_FALSE(run.windowShown());
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].title, "Error");
  EXPECT_EQ(run.dialogs[0].text, startupErrorMessage(errFlashInstallFailed).text);
  EXPECT_EQ(run.exitCode, errFlashInstallFailed);
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kProgram));
  // The player installer the user is to complete runs from the work folder,
  // so that folder cannot go with the installer; it is removed for later
  // tests once no program runs from it.
  std::string work;
  for (const e2e::TraceEvent& e : run.events)
    if (e.kind == "work folder") work = e.field(0);
  ASSERT_FALSE(work.empty());
  if (work.back() != '\\') work += '\\';
  EXPECT_TRUE(waitForProgramsIn(work));
  winfs::removeTree(work);
}

}  // namespace
