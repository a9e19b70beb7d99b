#include "app/preparing_window_win32.h"

#include <exception>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "base/text.h"
#include "app/ui_common_win32.h"
#include "resources/string_ids.h"
#include "system/win_text_win32.h"

namespace {
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr int kLabelId = 1;
}  // namespace

PreparingWindow::~PreparingWindow() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

LRESULT CALLBACK PreparingWindow::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (keepBusyCursor(msg)) return TRUE;
  switch (msg) {
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE: {
      // The installer decides; an exception must not unwind into the system.
      auto* self = reinterpret_cast<PreparingWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
      try {
        if (self && self->onClose) self->onClose();
      } catch (const std::exception&) {
      }
      return 0;
    }
    case WM_DESTROY:
      // The main window: its end is the application's end.
      Application::instance().terminate();
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

bool PreparingWindow::create(HINSTANCE instance) {
  registerWindowClass(kClassName, windowProc, true);

  RECT r = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&r, kStyle, FALSE, 0);
  hwnd_ = CreateWindowExA(0, kClassName, "", kStyle, kCreatedLeft, kCreatedTop, r.right - r.left,
                          r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  if (!hwnd_) return false;
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  label_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0,
                           kClientWidth, kClientHeight, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)), instance, nullptr);
  SendMessageA(label_, WM_SETFONT, reinterpret_cast<WPARAM>(installerFont()), FALSE);
  setMessage(loadText(IDS_PREPARING_INSTALLATION_LABEL));
  ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  return true;
}

void PreparingWindow::setCaption(const std::string& caption) {
  if (hwnd_) winSetWindowText(hwnd_, caption);
}

std::string PreparingWindow::caption() const {
  return hwnd_ ? winGetWindowText(hwnd_) : std::string();
}

void PreparingWindow::setMessage(const std::string& text) {
  if (!label_) return;
  winSetWindowText(label_, text);
  InvalidateRect(label_, nullptr, TRUE);
  UpdateWindow(label_);
  traceEvent("preparing", {text});
}

void PreparingWindow::moveOffScreen() {
  if (hwnd_) SetWindowPos(hwnd_, nullptr, kOffScreen, kOffScreen, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PreparingWindow::centerOnScreen() {
  if (!hwnd_) return;
  RECT r;
  GetWindowRect(hwnd_, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  // div truncates toward zero, as C++'s integer division does.
  int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Application::instance().processMessages();
}
