// The application object: title, message processing, termination and the
// process exit code.  One per process, on the GUI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class Application {
public:
  static Application& instance();

  HINSTANCE hinstance() const { return hinstance_; }
  void setHinstance(HINSTANCE h) { hinstance_ = h; }

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title) { title_ = title; }

  // The window that owns dialogs and receives the shell's launch results:
  // the installer window while it exists, otherwise the preparing window.
  HWND mainWindow() const { return mainWindow_; }
  void setMainWindow(HWND w) { mainWindow_ = w; }

  // Handles every queued message, then returns.
  void processMessages();
  // Waits for one message and handles it (returns at once after termination).
  void handleMessage();
  // Runs the message loop until termination is requested.
  void run();

  void terminate();
  bool terminated() const { return terminated_; }

  int exitCode() const { return exitCode_; }
  void setExitCode(int code) { exitCode_ = code; }

  // Called for every message taken from the queue; returning true drops it.
  std::function<bool(MSG&)> messageFilter;

  void bringToFront();

private:
  void dispatch(MSG& msg);

  HINSTANCE hinstance_ = nullptr;
  HWND mainWindow_ = nullptr;
  std::string title_;
  bool terminated_ = false;
  int exitCode_ = 0;
};
