// Launcher messaging, received by a hidden window standing in for the
// launcher (SendMessage to a window of the same thread calls its procedure
// directly, so the bytes are checked exactly as they are sent).
#include <windows.h>

#include <gtest/gtest.h>

#include "base/process_state.h"
#include "system/handles_win32.h"
#include "system/launcher_win32.h"

namespace {

struct Report {
  HWND to;
  WPARAM sender;
  ULONG_PTR dwData;
  std::string bytes;  // cbData bytes exactly
};
std::vector<Report> received;

LRESULT CALLBACK launcherProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    received.push_back({w, wp, cds->dwData,
                        std::string(static_cast<const char*>(cds->lpData), cds->cbData)});
    return TRUE;
  }
  return DefWindowProcA(w, msg, wp, lp);
}

UniqueWindow makeLauncher() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = launcherProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "WinTestLauncherDouble";
  RegisterClassA(&wc);  // fails harmlessly when already registered
  return UniqueWindow(CreateWindowExA(0, wc.lpszClassName, "launcher", WS_POPUP, 0, 0, 10, 10,
                                      nullptr, nullptr, wc.hInstance, nullptr));
}

std::string handleText(HWND w) { return std::to_string(reinterpret_cast<std::uintptr_t>(w)); }

class Launcher : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = processState().launcherWindow;
    processState().launcherWindow = 0;
    received.clear();
    launcher_ = makeLauncher();
    other_ = makeLauncher();
    ASSERT_TRUE(launcher_ && other_);
    setLauncherSenderWindow(other_.get());
  }
  void TearDown() override {
    setLauncherSenderWindow(nullptr);
    processState().launcherWindow = saved_;
    MSG m;
    while (PeekMessageA(&m, nullptr, kLauncherClosedMessage, kLauncherClosedMessage, PM_REMOVE)) {
    }
  }
  std::uint32_t saved_ = 0;
  UniqueWindow launcher_, other_;
};

}  // namespace

TEST_F(Launcher, ReportsArriveByteForByte) {
  const std::vector<std::string> params = {"/q", "/l=" + handleText(launcher_.get())};
  const std::string makeActive = std::string("makeActiveSaver-") + "Aquarium.scr" + '\0';
  for (const std::string& text : {std::string("read installer heard file"),
                                  std::string("quiet installer"), makeActive, std::string()})
    notifyLauncher(text, params);

  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[0].bytes, std::string("read installer heard file") + '\0');
  EXPECT_EQ(received[1].bytes, std::string("quiet installer") + '\0');
  EXPECT_EQ(received[2].bytes, makeActive + '\0');
  EXPECT_EQ(received[2].bytes.size(), std::string("Aquarium.scr").size() + 18);
  EXPECT_EQ(received[3].bytes, std::string(1, '\0'));
  for (const Report& r : received) {
    EXPECT_EQ(r.to, launcher_.get());
    EXPECT_EQ(r.sender, reinterpret_cast<WPARAM>(other_.get()));
    EXPECT_EQ(r.dwData, 0u);
  }

  postLauncherClosed();
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, launcher_.get(), kLauncherClosedMessage, kLauncherClosedMessage,
                           PM_REMOVE));
  EXPECT_EQ(m.wParam, 0u);
  EXPECT_EQ(m.lParam, 0);
}

TEST_F(Launcher, SwitchParsing) {
  const std::string h = handleText(launcher_.get());
  ASSERT_GE(h.size(), 2u);
  struct Case {
    const char* label;
    std::vector<std::string> params;
    bool reaches;
  } cases[] = {
      {"no switch", {"/q"}, false},
      {"value 0", {"/l=0"}, false},
      {"capital L", {"/L=" + h}, false},
      {"not at the start", {"x/l=" + h}, false},
      {"not decimal", {"/l=0x" + h}, false},
      {"negative", {"/l=-" + h}, false},
      {"letters", {"/l=abc"}, false},
      {"plain", {"/q", "/l=" + h}, true},
      {"split by a capital switch", {"/l=" + h.substr(0, 1) + "/L=" + h.substr(1)}, true},
      {"first of two", {"/l=" + h, "/l=" + handleText(other_.get())}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    processState().launcherWindow = 0;
    received.clear();
    notifyLauncher("t", c.params);
    ASSERT_EQ(received.size(), c.reaches ? 1u : 0u);
    if (c.reaches) {
      EXPECT_EQ(received[0].to, launcher_.get());
    }
  }
}

TEST_F(Launcher, CommandLineIsReadAgainUntilALauncherIsKnown) {
  notifyLauncher("first", {});
  notifyLauncher("from the real command line");  // win_tests has no "/l="
  EXPECT_EQ(processState().launcherWindow, 0u);
  postLauncherClosed();  // no launcher: nothing posted, not even to ourselves
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, kLauncherClosedMessage, kLauncherClosedMessage, PM_REMOVE));

  notifyLauncher("second", {"/l=" + handleText(launcher_.get())});
  notifyLauncher("third", {});  // known now: the parameters are not read again
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].bytes, std::string("third") + '\0');
}
