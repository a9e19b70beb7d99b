// The sample screen saver program, installed by a real installer: shown full
// screen and ended as a screen saver is, then removed through the command
// its uninstall entry registers, with a second saver beside it untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/install_journal_win32.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/installer_harness.h"
#include "tests/win/support/scheduled_deletion.h"

namespace {

// Runs the saver program (not an installer: it has no trace channel), its
// dialogs answered by the rule as they appear; they stay until answered.
e2e::RunResult runProgram(const std::string& path, const e2e::RunOptions& options) {
  e2e::RunResult result;
  ui::ProcessRunner runner;
  if (!runner.start(path, options.args)) {
    result.exitCode = -1;
    return result;
  }
  ui::DialogResponder responder(runner.processId(), options.answer);
  result.exitCode = runner.waitOrKill(options.timeoutMs);
  result.timedOut = runner.timedOut();
  responder.stop();
  result.dialogs = responder.records();
  return result;
}

using Bytes = std::vector<std::uint8_t>;

constexpr char kSaver[] = "Round Trip Saver";
constexpr char kNeighbour[] = "Neighbour Saver";

// The program's exit codes (tools/sample-saver/saver_win32.h).
constexpr int kNotInstalled = 3;
constexpr int kDeclined = 4;
constexpr int kNoWindow = 6;
constexpr int kInstallRunning = 7;

const Bytes& saverProgram() {
  static const Bytes bytes = winfs::readFile(winfs::hostPath(TEST_BINARY_DIR "/sample-saver.exe"));
  return bytes;
}

std::string program(const std::string& saver) { return e2e::systemFolder() + saver + ".scr"; }
std::string folder(const std::string& saver) { return e2e::commonFolder() + saver + "\\"; }

std::vector<HWND> visibleWindowsOf(DWORD processId) {
  ui::WindowQuery query;
  query.processId = processId;
  return ui::findWindows(query);
}

class SampleSaverTest : public FolderFixture {
protected:
  void SetUp() override {
    FolderFixture::SetUp();
    ASSERT_GT(saverProgram().size(), 1000u) << "build the sample_saver target";
    removeAll();
  }
  void TearDown() override {
    removeAll();
    e2e::forgetScheduledDeletions("Saver.scr");
    FolderFixture::TearDown();
  }
  static void removeAll() {
    for (const char* saver : {kSaver, kNeighbour}) e2e::removeSaver(saver, std::string(saver) + ".scr");
  }

  // Installs a saver quietly with the sample program as its item 6 and a
  // picture in its data file.
  void install(const std::string& saver) {
    DataFileBuilder data;
    data.add("picture.jpg", winfs::readFile(winfs::hostPath(TEST_FIXTURES_DIR "/previews/preview.jpg")))
        .add("scene.txt", Bytes{'b', 'l', 'u', 'e'});
    PackageBuilder b;
    b.mode(2).saverName(saver).item(6, saver + ".scr", 2, saverProgram()).dataFile(data);
    std::string setup = rootDir() + saver + " Setup.exe";
    ASSERT_TRUE(winfs::writeFile(setup, e2e::buildInstaller(b)));
    e2e::RunOptions options;
    options.args = {"/q"};
    e2e::RunResult run = e2e::runInstaller(setup, options);
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_TRUE(run.dialogs.empty()) << run.dialogs[0].text;
    ASSERT_TRUE(winfs::exists(folder(saver) + "saver.dat"));
    ASSERT_EQ(winfs::fileSize(program(saver)), static_cast<std::int64_t>(saverProgram().size()));
  }

  // The registered command, run as Windows runs it, with the question skipped.
  int runUninstallString(const std::string& saver) {
    std::string command = e2e::uninstallValue(saver, "UninstallString");
    EXPECT_EQ(command, program(saver) + " /u");
    ui::ProcessRunner started;
    if (!started.startCommandLine(command + " /q")) return -2;
    return started.waitOrKill(30000);
  }

  void expectInstalled(const std::string& saver) {
    EXPECT_TRUE(winfs::exists(folder(saver) + "saver.dat")) << saver;
    EXPECT_TRUE(winfs::exists(folder(saver) + "picture.jpg")) << saver;
    EXPECT_TRUE(winfs::exists(program(saver))) << saver;
    EXPECT_FALSE(e2e::scheduledForDeletion(program(saver))) << saver;
    EXPECT_TRUE(e2e::uninstallEntryExists(saver)) << saver;
  }

  void expectRemoved(const std::string& saver) {
    EXPECT_FALSE(winfs::exists(folder(saver))) << saver;
    EXPECT_FALSE(e2e::uninstallEntryExists(saver, HKEY_LOCAL_MACHINE)) << saver;
    EXPECT_FALSE(e2e::uninstallEntryExists(saver, HKEY_CURRENT_USER)) << saver;
    // A running program cannot always delete its own file: then it is
    // scheduled for the next start.
    EXPECT_TRUE(!winfs::exists(program(saver)) || e2e::scheduledForDeletion(program(saver))) << saver;
  }

  e2e::FlashStandIn flash_;  // a quiet install needs a player
};


TEST_F(SampleSaverTest, FullScreenUntilTheMouseReallyMovesOrAKeyIsPressed) {
  install(kSaver);
  // Twice: once ended by the mouse, once by a key.
  for (bool byKey : {false, true}) {
    SCOPED_TRACE(byKey ? "key" : "mouse");
    ui::ProcessRunner saver;
    std::string command = "\"";
    command.append(program(kSaver)).append("\" /s");
    ASSERT_TRUE(saver.startCommandLine(command));
    // Idle means: the window is made and the program waits for input.
    ASSERT_EQ(WaitForInputIdle(saver.handle(), 30000), 0u);
    std::vector<HWND> windows = visibleWindowsOf(saver.processId());
    ASSERT_EQ(windows.size(), 1u);
    HWND window = windows[0];
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    if (!byKey) e2e::screenshot("sample_saver_full_screen.png");

    if (byKey) {
      PostMessageA(window, WM_KEYDOWN, VK_SPACE, 1);
    } else {
      // Sent, not posted: each has been handled when the call returns.  The
      // first position is where the pointer is, as a real first move would be.
      POINT at{};
      GetCursorPos(&at);
      auto moveTo = [&](int x, int y) {
        SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
      };
      moveTo(at.x, at.y);
      moveTo(at.x + 3, at.y - 2);  // a jitter of a few pixels is ignored
      EXPECT_TRUE(IsWindow(window));
      moveTo(at.x + 40, at.y);
    }
    EXPECT_EQ(saver.waitOrKill(10000), 0);
  }
}

// Waits until the program waits for input, handling this thread's messages
// meanwhile (its windows may be children of ours).
bool waitForIdlePumping(HANDLE process, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (WaitForInputIdle(process, 0) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  return true;
}

TEST_F(SampleSaverTest, PreviewLivesInTheGivenWindowAndEndsWithIt) {
  install(kSaver);
  UniqueWindow parent(CreateWindowExA(0, "STATIC", "display settings", WS_POPUP | WS_VISIBLE, 0, 0, 152, 112,
                                      nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(parent);
  ui::ProcessRunner saver;
  std::string command = "\"";
  command.append(program(kSaver)).append("\" /p ").append(std::to_string(reinterpret_cast<std::uintptr_t>(parent.get())));
  ASSERT_TRUE(saver.startCommandLine(command));
  ASSERT_TRUE(waitForIdlePumping(saver.handle(), 30000));
  HWND child = GetWindow(parent.get(), GW_CHILD);
  ASSERT_TRUE(child);
  DWORD owner = 0;
  GetWindowThreadProcessId(child, &owner);
  EXPECT_EQ(owner, saver.processId());
  RECT rect{};
  GetClientRect(child, &rect);
  EXPECT_EQ(rect.right, 152);
  EXPECT_EQ(rect.bottom, 112);
  EXPECT_TRUE(visibleWindowsOf(saver.processId()).empty());  // no window of its own
  parent.reset();
  EXPECT_EQ(saver.waitOrKill(10000), 0);

  // A window that does not exist: it says so and ends.
  ui::ProcessRunner orphan;
  command = "\"";
  command.append(program(kSaver)).append("\" /p 123456789");
  ASSERT_TRUE(orphan.startCommandLine(command));
  EXPECT_EQ(orphan.waitOrKill(10000), kNoWindow);
}

TEST_F(SampleSaverTest, SettingsBoxNamesThePictureFolder) {
  install(kSaver);
  e2e::RunOptions settings;
  settings.args = {"/c:0"};  // 0 is no window: a mistake, said as such
  e2e::RunResult run = runProgram(program(kSaver), settings);
  EXPECT_EQ(run.exitCode, 2);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_NE(run.dialogs[0].text.find("/u [/q]"), std::string::npos) << run.dialogs[0].text;

  settings.args = {"/c"};
  run = runProgram(program(kSaver), settings);
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].title, std::string(kSaver) + " Settings");
  EXPECT_NE(run.dialogs[0].text.find(folder(kSaver)), std::string::npos) << run.dialogs[0].text;
  expectInstalled(kSaver);
}

TEST_F(SampleSaverTest, UninstallStringRemovesItsOwnInstallationOnly) {
  install(kSaver);
  install(kNeighbour);
  EXPECT_EQ(runUninstallString(kSaver), 0);
  expectRemoved(kSaver);
  expectInstalled(kNeighbour);
  // The folder all savers share stays for the others.
  EXPECT_TRUE(winfs::isFolder(e2e::commonFolder()));
}

TEST_F(SampleSaverTest, QuestionAnsweredNoRemovesNothingAndYesRemovesAll) {
  install(kSaver);
  e2e::RunOptions no;
  no.args = {"/u"};
  no.answer = ui::answerWithFirstOf({IDNO});
  e2e::RunResult run = runProgram(program(kSaver), no);
  EXPECT_EQ(run.exitCode, kDeclined);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].text, std::string("Remove ") + kSaver + " and all of its files from this computer?");
  expectInstalled(kSaver);

  e2e::RunOptions yes = no;
  yes.answer = ui::answerWithFirstOf({IDYES, IDOK});
  run = runProgram(program(kSaver), yes);
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 2u);
  EXPECT_EQ(run.dialogs[1].text.rfind(std::string(kSaver) + " was removed.", 0), 0u) << run.dialogs[1].text;
  expectRemoved(kSaver);
}

TEST_F(SampleSaverTest, RefusesWhatTheInstallerDidNotMake) {
  // A folder of the saver's name without the installer's saver.dat.
  const std::string stray = "Stray Saver";
  ASSERT_TRUE(winfs::writeFile(folder(stray) + "keep.txt", "not a saver's file"));
  std::string copy = rootDir() + stray + ".scr";
  ASSERT_TRUE(winfs::writeFile(copy, saverProgram()));
  e2e::RunOptions quiet;
  quiet.args = {"/u", "/q"};
  EXPECT_EQ(runProgram(copy, quiet).exitCode, kNotInstalled);
  EXPECT_EQ(winfs::readText(folder(stray) + "keep.txt"), "not a saver's file");
  winfs::removeTree(folder(stray));

  // Names that would not stay inside the common folder, or are no name.
  for (const std::string file : {"trailing .scr", "..scr", "sample-saver.exe"}) {
    SCOPED_TRACE(file);
    std::string path = rootDir() + file;
    ASSERT_TRUE(winfs::writeFile(path, saverProgram()));
    EXPECT_EQ(runProgram(path, quiet).exitCode, kNotInstalled);
  }
  EXPECT_TRUE(winfs::isFolder(e2e::commonFolder()));
}

// The uninstall and the installer share one lock, the saver's install
// journal.  During an upgrade (the installer stands still at its first
// journal record) the uninstall removes nothing; after an upgrade that was
// killed it first finishes that upgrade's undo, so that no later installer
// brings back what it removed.
TEST_F(SampleSaverTest, UninstallWaitsForNoInstallAndFinishesAKilledOne) {
  install(kSaver);
  DataFileBuilder data;
  data.add("picture.jpg", winfs::readFile(winfs::hostPath(TEST_FIXTURES_DIR "/previews/preview.jpg")))
      .add("version two.txt", Bytes{'2'});
  PackageBuilder b;
  b.mode(2).saverName(kSaver).item(6, std::string(kSaver) + ".scr", 2, saverProgram()).dataFile(data);
  const std::string upgrade = rootDir() + "Upgrade.exe";
  ASSERT_TRUE(winfs::writeFile(upgrade, e2e::buildInstaller(b)));
  const std::string uninstall = program(kSaver) + " /u /q";

  int duringInstall = -1;
  e2e::RunOptions options;
  options.args = {"/q"};
  options.onEvent = [&](const e2e::TraceEvent& e) {
    if (e.kind != "journal" || duringInstall != -1) return;
    ui::ProcessRunner started;  // the installer holds its journal and waits here
    duringInstall = started.startCommandLine(uninstall) ? started.waitOrKill(30000) : -2;
  };
  e2e::RunResult run = e2e::runInstaller(upgrade, options);
  EXPECT_EQ(duringInstall, kInstallRunning);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(winfs::exists(folder(kSaver) + "version two.txt"));
  expectInstalled(kSaver);

  // Killed once the earlier installation was set aside and the new one
  // begun: only a journal knows where the earlier one is.
  e2e::InstallerSession* session = nullptr;
  options.onEvent = [&](const e2e::TraceEvent& e) {
    if (session && e.kind == "journal" && e.field(0).rfind("created", 0) == 0) session->kill();
  };
  {
    e2e::InstallerSession killed(upgrade, options);
    session = &killed;
    killed.finish();
  }
  ASSERT_TRUE(winfs::exists(InstallJournal::pathFor(e2e::commonFolder(), kSaver)));
  ui::ProcessRunner started;
  ASSERT_TRUE(started.startCommandLine(uninstall));
  EXPECT_EQ(started.waitOrKill(30000), 0);
  expectRemoved(kSaver);
  for (const std::string& name : winfs::listFolder(e2e::commonFolder()))
    EXPECT_NE(name.rfind(kSaver, 0), 0u) << name;  // no journal, no backup
}

TEST_F(SampleSaverTest, EntryOfAnotherProductWithTheSameNameStays) {
  install(kSaver);
  const std::string key = std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kSaver;
  UniqueRegKey foreign;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, foreign.put(), nullptr),
            ERROR_SUCCESS);
  const char command[] = "C:\\Program Files\\Other\\remove.exe /u";
  RegSetValueExA(foreign.get(), "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command), sizeof(command));
  foreign.reset();

  EXPECT_EQ(runUninstallString(kSaver), 0);
  EXPECT_FALSE(winfs::exists(folder(kSaver)));
  EXPECT_FALSE(e2e::uninstallEntryExists(kSaver, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(e2e::uninstallValue(kSaver, "UninstallString", HKEY_CURRENT_USER), command);
}

}  // namespace
