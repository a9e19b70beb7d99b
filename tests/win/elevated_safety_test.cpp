// Whole installers under wine64 where a package, another program or the
// user would make an elevated installer destroy what is not its own or
// hang: a saver named like a folder of the system, files the install skipped
// or found in place when it fails, a damaged data file, closing the
// preparing window, a hung launcher and a step that raises.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>

#include "app/installer_form_win32.h"
#include "app/preparing_window_win32.h"
#include "base/byte_reader.h"
#include "base/messages.h"
#include "system/handles_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Every file below folder with its bytes, for byte-identical comparisons.
std::map<std::string, std::string> contentsOf(const std::string& folder, const std::string& prefix = "") {
  std::map<std::string, std::string> out;
  for (const std::string& n : winfs::listFolder(folder)) {
    if (winfs::isFolder(folder + n)) {
      out[prefix + n + "\\"] = "";
      for (auto& [k, v] : contentsOf(folder + n + "\\", prefix + n + "\\")) out[k] = v;
    } else {
      out[prefix + n] = winfs::readText(folder + n);
    }
  }
  return out;
}

std::string windowsFolder() {
  char buffer[MAX_PATH + 1] = {};
  GetWindowsDirectoryA(buffer, MAX_PATH);
  return std::string(buffer) + "\\";
}

// An environment variable for the programs this test starts (they inherit it).
class ScopedVariable {
public:
  ScopedVariable(const char* name, const char* value) : name_(name) { SetEnvironmentVariableA(name, value); }
  ~ScopedVariable() { SetEnvironmentVariableA(name_, nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
  const char* name_;
};

bool hasClosedReport(const e2e::RunResult& run) {
  return std::any_of(run.reports.begin(), run.reports.end(), [](const e2e::LauncherReport& r) { return r.closed; });
}

class ElevatedSafety : public e2e::SaverTest {
protected:
  ElevatedSafety() : SaverTest(kSaver, kProgram) {}
  void removeEverything() override {
    SaverTest::removeEverything();
    for (const std::string& path : {e2e::systemFolder() + kProgram, e2e::commonFolder() + kShared,
                                    e2e::systemFolder() + kFresh}) {
      winfs::setReadOnly(path, false);
      DeleteFileA(path.c_str());
    }
  }

  static DataFileBuilder saverData() {
    DataFileBuilder data;
    data.add("main.swf", bytesOf("FWS\x09movie"))
        .addImploded("big.txt", bytesOf(std::string(5000, 'a') + "the lazy dog"), e2e::implode)
        .addCopy("copy of main.swf");
    return data;
  }
  static PackageBuilder package(const std::string& saver = kSaver) {
    PackageBuilder b;
    b.mode(2).saverName(saver).offerControlPanel(false).item(6, kProgram, 2, bytesOf("MZ saver")).dataFile(saverData());
    return b;
  }

  static constexpr const char* kSaver = "Safety Test Saver";
  static constexpr const char* kProgram = "Safety Test Saver.scr";
  static constexpr const char* kShared = "Safety Shared.dll";     // other savers' library
  static constexpr const char* kFresh = "Safety Fresh.dll";      // created by the run
};

// --- The Windows folder ------------------------------------------------------

// A saver named "Fonts": the Windows folder's own "Fonts" folder is neither
// asked about nor touched, with a window or without.
TEST_F(ElevatedSafety, SaverNamedLikeAWindowsFolderLeavesThatFolderAlone) {
  e2e::FlashStandIn flash;
  const std::string fonts = windowsFolder() + "Fonts\\";
  const std::string planted = fonts + "safety test font.ttf";
  ASSERT_TRUE(winfs::writeFile(planted, "a font the system uses"));
  ASSERT_TRUE(winfs::writeFile(fonts + "safety sub\\saver.dat", "deeper down: not an installation of ours"));
  const auto before = contentsOf(fonts);
  ASSERT_GE(before.size(), 3u);
  std::string path = installer(package("Fonts"));

  for (bool quiet : {true, false}) {
    SCOPED_TRACE(quiet ? "quiet" : "interactive");
    e2e::RunResult run;
    if (quiet) {
      run = runQuiet(path);
    } else {
      e2e::InstallerSession session(path, {});
      HWND form = session.waitForForm();
      ASSERT_NE(form, nullptr);
      ui::pressButton(form, idInstallBtn);
      run = session.finish();
    }
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;  // no overwrite question
    EXPECT_EQ(contentsOf(fonts), before);
    EXPECT_EQ(winfs::fileSize(e2e::commonFolder() + "Fonts\\" + "saver.dat"), 1240);
    e2e::removeSaver("Fonts", kProgram);
  }
  winfs::removeTree(fonts + "safety sub");
  DeleteFileA(planted.c_str());
}

// --- The clean-up of a failed install ------------------------------------------

// Item 10 is imploded but claims a wrong size: it fails with a dialog after
// every other item is written.  While that dialog is up the files the
// install skipped as busy are released; the clean-up that follows must still
// leave them, and remove only the library it created.
TEST_F(ElevatedSafety, FailedInstallRemovesOnlyWhatItCreated) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(program(), "MZ another saver's program"));
  ASSERT_TRUE(winfs::writeFile(e2e::commonFolder() + kShared, "MZ shared by other savers"));
  UniqueFile heldProgram = winfs::holdOpen(program());
  UniqueFile heldShared = winfs::holdOpen(e2e::commonFolder() + kShared);
  ASSERT_TRUE(heldProgram && heldShared);

  PackageBuilder b = package();
  b.item(7, kShared, 3, bytesOf("MZ new shared"));
  b.item(9, kFresh, 2, bytesOf("MZ fresh"));
  b.compressedItem(10, "extra10.txt", 1, bytesOf(std::string(3000, 'z')), e2e::implode);
  b.editHeader([](PackageHeader& h) { h.items[10].expandedSize = 2999; });

  bool released = false;
  e2e::RunOptions options;
  options.args = {"/q"};
  options.answer = [&](const ui::DialogRecord& d) {
    heldProgram.reset();
    heldShared.reset();
    released = true;
    return ui::answerWithFirstOf({IDABORT, IDOK})(d);
  };
  e2e::RunResult run = e2e::runInstaller(installer(b), options);

  EXPECT_EQ(run.exitCode, errSizeMismatch);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_TRUE(released);
  EXPECT_EQ(winfs::readText(program()), "MZ another saver's program");
  EXPECT_EQ(winfs::readText(e2e::commonFolder() + kShared), "MZ shared by other savers");
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kFresh));
  EXPECT_FALSE(winfs::exists(saverFolder()));
  EXPECT_FALSE(e2e::uninstallEntryExists(kSaver));
  expectWorkFolderGone();
}

// A library of ours in the common folder that existed before is replaced
// by the install and, when the install fails afterwards, brought back with
// its old bytes; one the run created goes.
TEST_F(ElevatedSafety, ReplacedLibraryIsRestoredCreatedOneGoes) {
  e2e::FlashStandIn flash;
  const std::string shared = e2e::commonFolder() + kShared;
  ASSERT_TRUE(winfs::writeFile(shared, "MZ shared by other savers"));
  PackageBuilder b = package();
  b.item(7, kShared, 3, bytesOf("MZ new shared"));
  b.item(9, kFresh, 2, bytesOf("MZ fresh"));
  b.compressedItem(10, "extra10.txt", 1, bytesOf(std::string(3000, 'z')), e2e::implode);
  b.editHeader([](PackageHeader& h) { h.items[10].expandedSize = 2999; });
  // What the clean-up starts from, read while the installer waits at its start.
  std::string sharedBefore, freshBefore;
  e2e::RunOptions options;
  options.args = {"/q"};
  options.onEvent = [&](const e2e::TraceEvent& e) {
    if (e.kind != "enter" || e.field(0) != "removeInstalledFiles") return;
    sharedBefore = winfs::readText(shared);
    freshBefore = winfs::readText(e2e::systemFolder() + kFresh);
  };
  e2e::RunResult run = e2e::runInstaller(installer(b), options);
  EXPECT_EQ(run.exitCode, errSizeMismatch);
  EXPECT_EQ(sharedBefore, "MZ new shared");
  EXPECT_EQ(freshBefore, "MZ fresh");
  EXPECT_EQ(winfs::readText(shared), "MZ shared by other savers");
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kFresh));
  expectNothingOfTheSaver();
  expectWorkFolderGone();
}

// A data file whose table is damaged is refused before any item is written:
// a library found in place keeps its bytes, nothing new appears.
TEST_F(ElevatedSafety, DamagedDataFileIsRefusedBeforeAnyItemIsWritten) {
  e2e::FlashStandIn flash;
  ASSERT_TRUE(winfs::writeFile(e2e::commonFolder() + kShared, "MZ shared by other savers"));
  DataFileLayout layout;
  Bytes data = saverData().build(&layout);
  // The second member's header claims data far past the end of the file.
  storeLe32(data.data() + layout.memberOffsets[1] + kMemberStoredSizeField, 0x7fffffff);
  PackageBuilder b = package();
  b.item(8, "saverdata.bin", 7, data);
  b.item(7, kShared, 3, bytesOf("MZ new shared"));
  b.item(9, kFresh, 2, bytesOf("MZ fresh"));
  e2e::RunResult run = runQuiet(installer(b));
  EXPECT_EQ(run.exitCode, errCorruptPackage);
  EXPECT_EQ(winfs::readText(e2e::commonFolder() + kShared), "MZ shared by other savers");
  EXPECT_FALSE(winfs::exists(e2e::systemFolder() + kFresh));
  expectNothingOfTheSaver();
  expectWorkFolderGone();
}

// --- Closing the preparing window -------------------------------------------------

// The preparing window of the process that owns `form` (hidden or not).
HWND preparingWindowOf(HWND form) {
  ui::WindowQuery q;
  q.className = PreparingWindow::kClassName;
  q.visibleOnly = false;
  GetWindowThreadProcessId(form, &q.processId);
  return ui::findWindow(q);
}

// During start-up: closed while a start-up dialog is up (a preview picture
// that cannot be read), the sequence ends when the dialog is answered; the
// installer window never shows, the work folder goes and the launcher hears
// 0x501.
TEST_F(ElevatedSafety, ClosingThePreparingWindowDuringStartUp) {
  e2e::FlashStandIn flash;
  PackageBuilder b = package();
  b.mode(1).preview("preview.bmp", bytesOf("not a bitmap at all"));
  e2e::RunOptions options;
  options.viaLauncher = true;
  bool posted = false;
  options.answer = [&](const ui::DialogRecord& d) {
    ui::WindowQuery q;
    q.className = PreparingWindow::kClassName;
    posted = PostMessageA(ui::findWindow(q), WM_CLOSE, 0, 0) != FALSE;
    return ui::answerWithFirstOf({IDOK})(d);
  };
  e2e::InstallerSession session(installer(b), options);
  e2e::RunResult run = session.finish();
  EXPECT_TRUE(posted);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].text, corruptFileMessage().text);
  EXPECT_TRUE(hasClosedReport(run));
  expectNothingOfTheSaver();
  expectWorkFolderGone();
}

// Ready, and then during an install: closing the preparing window is the
// installer window's own close when ready, and is refused while installing.
// The close is posted while the overwrite question is up and after every
// progress step; the install must go on to its end, and the launcher hears
// the close only after the saver was announced.
TEST_F(ElevatedSafety, ClosingThePreparingWindowWhenReadyAndWhileInstalling) {
  e2e::FlashStandIn flash;
  std::string path = installer(package());
  {
    SCOPED_TRACE("ready");
    e2e::RunOptions options;
    options.viaLauncher = true;
    e2e::InstallerSession session(path, options);
    HWND form = session.waitForForm();
    ASSERT_NE(form, nullptr);
    HWND preparing = preparingWindowOf(form);
    ASSERT_NE(preparing, nullptr);
    PostMessageA(preparing, WM_CLOSE, 0, 0);
    e2e::RunResult run = session.finish();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(hasClosedReport(run));
    expectNothingOfTheSaver();
    expectWorkFolderGone();
  }
  {
    SCOPED_TRACE("installing");
    ASSERT_EQ(runQuiet(path).exitCode, 0);  // an earlier installation: Install asks first
    e2e::RunOptions options;
    options.viaLauncher = true;
    HWND preparing = nullptr;
    int posted = 0;
    // Posted from the handler while the installer waits: it is the next
    // message its loop (the question's, or the pause after a step) handles.
    auto postClose = [&] { posted += PostMessageA(preparing, WM_CLOSE, 0, 0) != FALSE; };
    options.onEvent = [&](const e2e::TraceEvent& e) {
      if (e.kind == "window") preparing = preparingWindowOf(e.window());
      if (e.kind == "progress" && e.number() > 0) postClose();
    };
    options.answer = [&](const ui::DialogRecord& d) {
      postClose();
      return ui::answerWithFirstOf({IDOK})(d);
    };
    e2e::InstallerSession session(path, options);
    HWND form = session.waitForForm();
    ASSERT_NE(form, nullptr);
    ui::pressButton(form, idInstallBtn);
    e2e::RunResult run = session.finish();
    EXPECT_FALSE(run.timedOut);
    EXPECT_GE(posted, 2);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.dialogs.size(), 1u);
    int result = -1;
    EXPECT_TRUE(run.installEnded(&result));
    EXPECT_EQ(result, 0);
    // The install went through whole.
    EXPECT_EQ(winfs::readText(program()), "MZ saver");
    EXPECT_EQ(winfs::readText(saverFolder() + "main.swf"), "FWS\x09movie");
    EXPECT_EQ(winfs::readText(saverFolder() + "copy of main.swf"), "FWS\x09movie");
    EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
    EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
    // The window closed once, after the install had ended.
    std::vector<std::string> order;
    for (const e2e::TraceEvent& e : run.events)
      if (e.kind == "install end" || e.kind == "launcher closed") order.push_back(e.kind);
    EXPECT_EQ(order, (std::vector<std::string>{"install end", "launcher closed"}));
    // The launcher: the saver announced, then closed, closed only once.
    std::string reports;
    for (const auto& r : run.reports) reports += (r.closed ? std::string("<closed>") : r.bytes.c_str()) + "|";
    ASSERT_GE(run.reports.size(), 2u) << reports;
    EXPECT_EQ(run.reports[run.reports.size() - 2].bytes, std::string("makeActiveSaver-") + kProgram + '\0' + '\0')
        << reports;
    EXPECT_TRUE(run.reports.back().closed) << reports;
    EXPECT_EQ(std::count_if(run.reports.begin(), run.reports.end(), [](const auto& r) { return r.closed; }), 1)
        << reports;
    expectWorkFolderGone();
  }
}

// --- Other processes' windows -----------------------------------------------------

// A launcher that never returns from the first report: the install waits
// for that one report only (its trace says "no answer in time"), sends the
// launcher nothing more, and completes.
TEST_F(ElevatedSafety, HungLauncherDoesNotFreezeTheInstall) {
  e2e::FlashStandIn flash;
  ScopedVariable hang("LAUNCHER_DOUBLE_HANG_ON", "read installer heard file");
  e2e::RunResult run = runQuiet(installer(package()), true);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(winfs::fileSize(saverFolder() + "saver.dat"), 1240);
  EXPECT_TRUE(e2e::uninstallEntryExists(kSaver));
  std::vector<std::string> outcomes;
  for (const e2e::TraceEvent& e : run.events)
    if (e.kind == "launcher") outcomes.push_back(e.field(1));
  ASSERT_GE(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0], "no answer in time");
  for (std::size_t i = 1; i < outcomes.size(); ++i) EXPECT_EQ(outcomes[i], "not sent, no answer before") << i;
  // Only the report it hung on reached it.
  ASSERT_FALSE(run.reports.empty());
  EXPECT_EQ(run.reports[0].bytes, std::string("read installer heard file") + '\0');
  for (std::size_t i = 1; i < run.reports.size(); ++i) EXPECT_TRUE(run.reports[i].closed);
  expectWorkFolderGone();
}

// --- A step that raises -------------------------------------------------------------

// Quiet: a failed install with a non-zero exit code and nothing left.
// Interactive: the failure on the status line, the window stays and can be
// closed (the installing state was left).
TEST_F(ElevatedSafety, AStepThatRaisesEndsAsAFailedInstall) {
  e2e::FlashStandIn flash;
  ScopedVariable raise("BRINDLEFAX_TEST_RAISE_IN", "expandDataFile");
  std::string path = installer(package());
  {
    SCOPED_TRACE("quiet");
    e2e::RunResult run = runQuiet(path);
    EXPECT_EQ(run.exitCode, errUnspecified);
    expectNothingOfTheSaver();
    expectWorkFolderGone();
  }
  {
    SCOPED_TRACE("interactive");
    e2e::RunOptions options;
    options.viaLauncher = true;
    e2e::InstallerSession session(path, options);
    HWND form = session.waitForForm();
    ASSERT_NE(form, nullptr);
    ui::pressButton(form, idInstallBtn);
    // The status line shows the failure once the install has ended; then the
    // window must close.
    int result = 0;
    ASSERT_TRUE(session.waitForInstallEnd(&result));
    EXPECT_EQ(result, errUnspecified);
    EXPECT_EQ(ui::controlText(ui::findControl(form, idLabCopying)), installStatusText(errUnspecified));
    PostMessageA(form, WM_CLOSE, 0, 0);
    e2e::RunResult run = session.finish();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(hasClosedReport(run));
    expectNothingOfTheSaver();
    expectWorkFolderGone();
  }
}

}  // namespace
