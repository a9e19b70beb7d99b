// The hourglass of the start-up and install sequences: it stays when the
// mouse moves (WM_SETCURSOR) over the installer's windows and their
// controls, and the cursor it replaced comes back after.  The cursor is the
// calling thread's, so the window lives on the test's own thread and
// GetCursor reads the result of each WM_SETCURSOR directly.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/ui_common_win32.h"

namespace {

LRESULT CALLBACK busyAwareProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (keepBusyCursor(msg)) return TRUE;
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// The mouse moving over w: what the system sends.
void mouseMovesOver(HWND w) { SendMessageA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)); }

TEST(BusyCursor, HourglassOutlivesMouseMovesAndTheOldCursorReturns) {
  registerWindowClass("BusyCursorTestWindow", busyAwareProc, false);
  HWND window = CreateWindowExA(0, "BusyCursorTestWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  HWND button = CreateWindowExA(0, "BUTTON", "b", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, window, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  const HCURSOR arrow = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  const HCURSOR wait = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT));

  mouseMovesOver(window);
  EXPECT_EQ(GetCursor(), arrow);  // the class cursor while idle
  {
    BusyCursor outer;
    EXPECT_EQ(GetCursor(), wait);
    mouseMovesOver(window);
    EXPECT_EQ(GetCursor(), wait);
    mouseMovesOver(button);  // a control asks its parent first
    EXPECT_EQ(GetCursor(), wait);
    {
      BusyCursor inner;  // the install inside a quiet start-up
    }
    EXPECT_EQ(GetCursor(), wait);
    mouseMovesOver(window);
    EXPECT_EQ(GetCursor(), wait);
  }
  EXPECT_EQ(GetCursor(), arrow);
  mouseMovesOver(button);
  EXPECT_EQ(GetCursor(), arrow);
  DestroyWindow(window);
}

}  // namespace
