// Closing the Display Properties dialog and removing the start-up shortcut.
#include <windows.h>
#include <shlobj.h>

#include <map>

#include <gtest/gtest.h>

#include "system/desktop_win32.h"
#include "system/folders_win32.h"
#include "system/handles_win32.h"
#include "tests/win/support/folder_fixture.h"

namespace {

std::map<HWND, int> cancelClicks;  // top-level window -> IDCANCEL commands

LRESULT CALLBACK dialogProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
    ++cancelClicks[w];
    return 0;
  }
  return DefWindowProcA(w, msg, wp, lp);
}

// A stand-in for the system dialog: a top-level window with a real Cancel
// button of id 2, or without any item 2.
UniqueWindow makeDialog(const char* title, bool withCancel) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = dialogProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "WinTestDisplayDialog";
  RegisterClassA(&wc);
  UniqueWindow w(CreateWindowExA(0, wc.lpszClassName, title, WS_POPUP | WS_VISIBLE, 0, 0, 200, 100,
                                 nullptr, nullptr, wc.hInstance, nullptr));
  if (w && withCancel)
    CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 80, 24,
                    w.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)),
                    wc.hInstance, nullptr);
  return w;
}

}  // namespace

TEST(DisplayProperties, OnlyTheFirstMatchingTitleIsCancelled) {
  cancelClicks.clear();
  // Created first, so it is not simply the first window in z order.
  UniqueWindow settings = makeDialog("Screen Saver Settings", true);
  UniqueWindow display = makeDialog("Display Properties", true);
  ASSERT_TRUE(settings && display);
  closeDisplayProperties();
  EXPECT_EQ(cancelClicks[display.get()], 1);
  EXPECT_EQ(cancelClicks[settings.get()], 0);

  display.reset();
  closeDisplayProperties();
  EXPECT_EQ(cancelClicks[settings.get()], 1);
}

TEST(DisplayProperties, AWindowWithoutItem2IsLeftAlone) {
  cancelClicks.clear();
  UniqueWindow plain = makeDialog("Display Properties", false);
  UniqueWindow settings = makeDialog("Screen Saver Settings", true);
  closeDisplayProperties();  // the click goes nowhere; the next title is not tried
  EXPECT_TRUE(IsWindow(plain.get()));
  EXPECT_EQ(cancelClicks[settings.get()], 0);
}

class StartupShortcut : public FolderFixture {};

TEST_F(StartupShortcut, NameIsTheUnsignedCrcOfThePath) {
  // The CRC-32 check value 0xCBF43926 is above 2^31: it must not print negative.
  EXPECT_EQ(startupShortcutName("123456789"), "3421780262_installer.lnk");
  EXPECT_NE(startupShortcutName("C:\\a\\setup.exe"), startupShortcutName("C:\\b\\setup.exe"));
  EXPECT_NE(startupShortcutName("C:\\a\\setup.exe"), startupShortcutName("c:\\a\\setup.exe"));
}

TEST_F(StartupShortcut, TheRightReadOnlyShortcutIsDeleted) {
  const std::string mine = rootDir() + "3421780262_installer.lnk";
  const std::string other = rootDir() + "1_installer.lnk";
  ASSERT_TRUE(winfs::writeFile(mine, "lnk"));
  ASSERT_TRUE(winfs::writeFile(other, "lnk"));
  winfs::setReadOnly(mine, true);
  removeStartupShortcutIn(rootDir().substr(0, rootDir().size() - 1), "123456789");
  EXPECT_FALSE(winfs::exists(mine));
  EXPECT_TRUE(winfs::exists(other));
}

TEST_F(StartupShortcut, TheRunningProgramsShortcutInTheStartupFolder) {
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string shortcut = withTrailingBackslash(getSpecialFolder(CSIDL_STARTUP)) +
                               startupShortcutName(std::string(path, n));
  ASSERT_TRUE(winfs::writeFile(shortcut, "lnk"));
  removeStartupShortcut();
  EXPECT_FALSE(winfs::exists(shortcut));
}
