// The test support itself: the UI driver on windows of another process
// (tests/fixtures/ui_probe), the process runner and the dialog responder
// that installer runs depend on, the folder fixture's clean-up, and the
// watchdog that ends a test program whose test never returns.  The
// driver's in-process use is proven by dialogs_test.cpp.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/ui_driver.h"

namespace {

std::string probeExe() { return winfs::hostPath(TEST_BINARY_DIR "/ui_probe.exe"); }

// Only against a hang: a loaded machine may take its time to start a program.
constexpr DWORD kProcessTimeoutMs = 120000;

TEST(ProcessRunner, ReportsTheFullSignedExitCode) {
  for (int code : {0, 42, -523}) {
    ui::ProcessRunner p;
    ASSERT_TRUE(p.start(probeExe(), {"exit", std::to_string(code)})) << probeExe() << " error " << GetLastError();
    EXPECT_EQ(p.waitOrKill(kProcessTimeoutMs), code);
    EXPECT_FALSE(p.timedOut());
  }
}

// The kill code, not the program's own exit code 0 after its sleep, shows
// that the runner ended it.
TEST(ProcessRunner, KillsAProcessThatOutlivesItsTime) {
  ui::ProcessRunner p;
  ASSERT_TRUE(p.start(probeExe(), {"sleep", "600000"}));
  EXPECT_EQ(p.waitOrKill(300), 0xDEAD);
  EXPECT_TRUE(p.timedOut());
  EXPECT_FALSE(p.running());
}

TEST(ProcessRunner, FailsToStartAMissingProgram) {
  ui::ProcessRunner p;
  EXPECT_FALSE(p.start("C:\\no\\such\\program.exe"));
  EXPECT_FALSE(p.running());
}

class ProcessArguments : public FolderFixture {};

// What the started program's C runtime sees must be exactly what was passed.
TEST_F(ProcessArguments, ArriveUnchanged) {
  const std::vector<std::string> args = {
      "plain", "two words", "", "quote\"inside", "C:\\dir with space\\", "trailing\\\\", "a\\\\\"b",
      "tab\there", "\\\\server\\share", "/q", "/l=12345",
  };
  std::string out = workDir() + "args.txt";
  std::vector<std::string> all = {"args", out};
  all.insert(all.end(), args.begin(), args.end());
  ui::ProcessRunner p;
  ASSERT_TRUE(p.start(probeExe(), all));
  EXPECT_EQ(p.waitOrKill(kProcessTimeoutMs), static_cast<int>(args.size()));
  std::string expected;
  for (const std::string& a : args) expected += a + "\n";
  EXPECT_EQ(winfs::readText(out), expected);
}

TEST(CrossProcess, ReadsAndAnswersAMessageBoxOfAnotherProcess) {
  ui::ProcessRunner p;
  std::string flags = std::to_string(MB_YESNO | MB_ICONQUESTION);
  ASSERT_TRUE(p.start(probeExe(), {"box", "Probe Box", "Overwrite the saver?", flags}));
  ui::WindowQuery q = ui::WindowQuery::dialog("Probe Box", p.processId());
  HWND box = ui::waitForWindow(q);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ui::findWindow(ui::WindowQuery::dialog("Probe Box")), nullptr) << "found in the wrong process";
  ui::DialogRecord r = ui::recordDialog(box);
  EXPECT_EQ(r.title, "Probe Box");
  EXPECT_EQ(r.text, "Overwrite the saver?");
  ASSERT_EQ(r.buttons.size(), 2u);
  EXPECT_EQ(r.buttons[0].caption, "&Yes");
  EXPECT_EQ(r.buttons[1].caption, "&No");
  EXPECT_TRUE(ui::pressButtonAndWait(box, IDNO));
  EXPECT_EQ(p.waitOrKill(kProcessTimeoutMs), IDNO);
}

TEST(CrossProcess, ResponderRecordsAndAnswersEveryDialog) {
  ui::ProcessRunner p;
  ASSERT_TRUE(p.start(probeExe(), {"boxes", "Sequence", "3"}));
  ui::DialogResponder responder(p.processId(), [](const ui::DialogRecord& r) {
    if (r.text == "question 1") return IDCANCEL;
    if (r.text == "question 2") return IDYES;
    return IDOK;
  });
  int code = p.waitOrKill(kProcessTimeoutMs);
  responder.stop();
  EXPECT_EQ(code, IDCANCEL * 100 + IDYES * 10 + IDOK);
  std::vector<ui::DialogRecord> seen = responder.records();
  ASSERT_EQ(seen.size(), 3u);
  const int answers[] = {IDCANCEL, IDYES, IDOK};
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].title, "Sequence");
    EXPECT_EQ(seen[i].text, "question " + std::to_string(i + 1));
    EXPECT_EQ(seen[i].answer, answers[i]);
    EXPECT_EQ(seen[i].buttons.size(), 2u);
  }
}

// The probe's window: buttons "&Go" (100) and a disabled "Off" (101), an
// edit (102) holding "edit text", a panel (103) with a button "Inner" (104).
class ProbeWindow : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(probe_.start(probeExe(), {"window", "Probe Window"}));
    ui::WindowQuery q;
    q.className = "UiProbe";
    q.title = "Probe";
    q.titleIsPrefix = true;
    q.processId = probe_.processId();
    window_ = ui::waitForWindow(q);
    ASSERT_NE(window_, nullptr);
  }
  ui::ProcessRunner probe_;
  HWND window_ = nullptr;
};

TEST_F(ProbeWindow, ListsControlsWithTheirStateAndPlace) {
  std::vector<ui::ControlInfo> top = ui::children(window_);
  ASSERT_EQ(top.size(), 4u);
  const int ids[] = {100, 101, 102, 103};
  for (size_t i = 0; i < top.size(); ++i) EXPECT_EQ(top[i].id, ids[i]) << "creation order";
  EXPECT_EQ(top[0].text, "&Go");
  EXPECT_TRUE(top[0].enabled);
  EXPECT_FALSE(top[1].enabled);
  EXPECT_EQ(top[2].text, "edit text");  // asked of the edit control itself
  EXPECT_EQ(top[2].className, "Edit");
  EXPECT_EQ(top[0].rect.left, 10);
  EXPECT_EQ(top[0].rect.top, 10);
  EXPECT_EQ(top[0].rect.right, 90);
  EXPECT_EQ(top[0].rect.bottom, 34);

  std::vector<ui::ControlInfo> all = ui::descendants(window_);
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[4].id, 104);
  EXPECT_EQ(all[4].parent, top[3].hwnd);
  EXPECT_EQ(all[4].rect.left, 5) << "in the panel's coordinates";
  EXPECT_EQ(all[4].rect.top, 5);

  EXPECT_FALSE(ui::pressButton(window_, 101)) << "a disabled button cannot be pressed";
  EXPECT_FALSE(ui::pressButton(window_, 999));
  EXPECT_TRUE(ui::pressButton(window_, std::string("Inner")));
  EXPECT_EQ(probe_.waitOrKill(kProcessTimeoutMs), 104);
}

TEST_F(ProbeWindow, RightClickReachesTheWindowUnderThePoint) {
  struct Case {
    POINT at;
    const char* title;  // the probe reports where its context menu was asked for
  };
  const Case cases[] = {{{300, 200}, "context 300,200"}, {{150, 130}, "context 150,130"}};
  for (const Case& c : cases) {
    HWND target = ui::rightClick(window_, c.at);
    EXPECT_NE(target, nullptr);
    ui::WindowQuery q;
    q.title = c.title;
    q.processId = probe_.processId();
    EXPECT_NE(ui::waitForWindow(q), nullptr) << "title now " << ui::windowTitle(window_);
  }
  EXPECT_EQ(ui::rightClick(window_, {5000, 5}), nullptr);
  EXPECT_TRUE(ui::pressButton(window_, 100));
  EXPECT_EQ(probe_.waitOrKill(kProcessTimeoutMs), 100);
}

TEST_F(ProbeWindow, KeysReachTheFocusedControl) {
  EXPECT_TRUE(ui::sendKey(window_, ui::Key::Escape));
  EXPECT_EQ(probe_.waitOrKill(kProcessTimeoutMs), IDCANCEL);
}

TEST_F(ProbeWindow, AltF4ClosesTheWindow) {
  EXPECT_TRUE(ui::sendKey(window_, ui::Key::AltF4));
  EXPECT_EQ(probe_.waitOrKill(kProcessTimeoutMs), 3);
}

class FolderFixtureTest : public FolderFixture {};

TEST_F(FolderFixtureTest, GivesFreshFoldersEndingWithABackslash) {
  for (const std::string* dir : {&rootDir(), &systemDir(), &commonDir(), &localAppDataDir(), &workDir()}) {
    EXPECT_EQ(dir->back(), '\\') << *dir;
    EXPECT_TRUE(winfs::isFolder(*dir)) << *dir;
    if (dir != &rootDir()) {
      EXPECT_EQ(dir->compare(0, rootDir().size(), rootDir()), 0) << *dir;
      EXPECT_TRUE(winfs::listFolder(*dir).empty()) << *dir;
    }
  }
}

// What the fixture's clean-up relies on: read-only files and folders, nested.
TEST_F(FolderFixtureTest, RemovesATreeWithReadOnlyEntries) {
  std::string tree = workDir() + "tree\\";
  ASSERT_TRUE(winfs::writeFile(tree + "a\\b\\deep.bin", winfs::Bytes{0, 1, 2, 0xFF}));
  ASSERT_TRUE(winfs::writeFile(tree + "top.txt", std::string("text")));
  ASSERT_TRUE(winfs::setReadOnly(tree + "a\\b\\deep.bin", true));
  ASSERT_TRUE(winfs::setReadOnly(tree + "a", true));
  EXPECT_EQ(winfs::fileSize(tree + "a\\b\\deep.bin"), 4);
  EXPECT_EQ(winfs::readFile(tree + "a\\b\\deep.bin"), (winfs::Bytes{0, 1, 2, 0xFF}));
  EXPECT_EQ(winfs::listFolder(tree), (std::vector<std::string>{"a", "top.txt"}));
  EXPECT_FALSE(DeleteFileA((tree + "a\\b\\deep.bin").c_str())) << "read-only files resist deletion";
  EXPECT_TRUE(winfs::removeTree(tree));
  EXPECT_FALSE(winfs::exists(tree));
  EXPECT_EQ(winfs::fileSize(tree + "top.txt"), -1);
  EXPECT_TRUE(winfs::removeTree(tree)) << "a missing tree is already removed";
}

// Stands for a test that never returns; run only by the test below, in a
// program of its own.
TEST(TestWatchdogTarget, DISABLED_NeverReturns) {
  UniqueKernelHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  WaitForSingleObject(never.get(), INFINITE);
}

class TestWatchdog : public FolderFixture {};

// This program once more, with a limit of one second and only the test that
// never returns: it must end with exit code 3, naming that test and asking
// the (healthy) desktop, on the standard error it was given.
TEST_F(TestWatchdog, EndsAProgramWhoseTestOverrunsAndNamesIt) {
  std::string errors = workDir() + "stderr.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  UniqueFile errorFile(CreateFileA(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(errorFile);
  char self[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  std::string line = ui::quoteArgument(self) +
                     " --gtest_filter=TestWatchdogTarget.DISABLED_NeverReturns --gtest_also_run_disabled_tests";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = errorFile.get();
  si.hStdError = errorFile.get();
  PROCESS_INFORMATION pi = {};
  // The child must not write over this program's record of its tests.
  char progress[MAX_PATH] = {};
  bool recording = GetEnvironmentVariableA("E2E_PROGRESS_LOG", progress, MAX_PATH) > 0;
  SetEnvironmentVariableA("E2E_PROGRESS_LOG", nullptr);
  SetEnvironmentVariableA("E2E_TEST_LIMIT_S", "1");
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA("E2E_TEST_LIMIT_S", nullptr);
  if (recording) SetEnvironmentVariableA("E2E_PROGRESS_LOG", progress);
  ASSERT_TRUE(started) << GetLastError();
  CloseHandle(pi.hThread);
  UniqueKernelHandle process(pi.hProcess);
  errorFile.reset();
  if (WaitForSingleObject(process.get(), kProcessTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 0xDEAD);
    FAIL() << "the watchdog did not end the program";
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 3u);
  std::string text = winfs::readText(errors);
  EXPECT_NE(text.find("TestWatchdogTarget.DISABLED_NeverReturns has run for "), std::string::npos) << text;
  EXPECT_NE(text.find(", over the limit of 1 s; the desktop window answers"), std::string::npos) << text;
}

}  // namespace
