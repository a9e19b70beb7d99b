// The small "Preparing installation..." window shown while the installer
// window is created.  It is the application's main window: closing it ends
// the application.  Visibility is expressed by position only: it is always
// shown, either outside the screen or centred on it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class PreparingWindow {
public:
  static constexpr int kClientWidth = 264;
  static constexpr int kClientHeight = 91;
  static constexpr int kCreatedLeft = -1560;
  static constexpr int kCreatedTop = -3000;
  static constexpr int kOffScreen = -3000;
  static constexpr const char* kClassName = "TpreparingInstallWnd";

  PreparingWindow() = default;
  ~PreparingWindow();
  PreparingWindow(const PreparingWindow&) = delete;
  PreparingWindow& operator=(const PreparingWindow&) = delete;

  // Creates the window outside the screen, visible, with the label's
  // "Preparing Installation..." text (FormCreate).
  bool create(HINSTANCE instance);

  HWND handle() const { return hwnd_; }
  void setCaption(const std::string& caption);
  std::string caption() const;
  // Sets the label and repaints it at once.
  void setMessage(const std::string& text);
  void moveOffScreen();
  // Centres on the primary display, then processes pending messages once so
  // that the window paints before the caller goes on.
  void centerOnScreen();

  // Called for a request to close the window (system menu, Alt+F4, the
  // taskbar); without it the window is not closed.
  std::function<void()> onClose;

private:
  static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);

  HWND hwnd_ = nullptr;
  HWND label_ = nullptr;
};
