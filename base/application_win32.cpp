#include "base/application_win32.h"

Application& Application::instance() {
  static Application app;
  return app;
}

namespace {

// GetAncestor is missing on Windows 95: walk up the child chain instead.
HWND topLevelOf(HWND w) {
  while (w && (GetWindowLongA(w, GWL_STYLE) & WS_CHILD)) w = GetParent(w);
  return w;
}

}  // namespace

void Application::dispatch(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return;
  }
  if (messageFilter && messageFilter(msg)) return;
  // Dialog navigation (Tab, Enter, Esc) for the window that owns the message.
  HWND top = topLevelOf(msg.hwnd);
  if (top && IsDialogMessageA(top, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void Application::processMessages() {
  MSG msg;
  while (!terminated_ && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) dispatch(msg);
}

void Application::handleMessage() {
  if (terminated_) return;
  MSG msg;
  BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  if (got == -1) return;
  if (got == 0) {
    terminated_ = true;
    return;
  }
  dispatch(msg);
}

void Application::run() {
  while (!terminated_) handleMessage();
}

void Application::terminate() {
  if (terminated_) return;
  terminated_ = true;
  PostQuitMessage(exitCode_);
}

void Application::bringToFront() {
  HWND w = mainWindow_;
  if (w && IsWindow(w)) SetForegroundWindow(w);
}
