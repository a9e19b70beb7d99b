// The test end of the installer's diagnostic trace (base/diagnostic_trace.h).
//
// Why a trace rather than watching the window: an installer's status text
// may stand for a few milliseconds only, and a watcher that samples it (or
// the progress bar) misses it whenever the machine is busy.  WinEvent hooks
// would report changes, but out of context, so the installer has moved on by
// the time the test reads the window.  The trace reports every status text,
// progress position, dialog and window as it happens, in order, and the
// installer waits for each event's acknowledgement: a handler runs while the
// installer stands still at that exact point, so a test can act there (post
// a click, plant a file) before it goes on.
//
// Handlers run on the listener's thread while the installer waits: they must
// not send messages to the installer's windows (no WM_GETTEXT, no
// SendMessage); posting, reading styles and files is fine.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "system/handles_win32.h"
#include "tests/win/support/ui_driver.h"

namespace e2e {

struct TraceEvent {
  std::string kind;  // "window", "status", "progress", "preparing", "dialog", "work folder", "install end"
  std::vector<std::string> fields;

  std::string field(size_t i) const { return i < fields.size() ? fields[i] : std::string(); }
  int number(size_t i = 0) const;  // a numeric field (progress position, result code)
  HWND window() const;             // the handle in field 0 ("window", "dialog")
  // A "dialog" event as the UI driver's record (title, text, buttons).
  ui::DialogRecord dialog() const;
};

using TraceHandler = std::function<void(const TraceEvent&)>;
// The acknowledgement of an event: 'k' goes on; for a "file" event another
// byte fails that operation with it as the system's error code.
using TraceAnswer = std::function<char(const TraceEvent&)>;

class TraceListener {
public:
  explicit TraceListener(TraceHandler handler = {}, TraceAnswer answer = {});
  ~TraceListener();
  TraceListener(const TraceListener&) = delete;
  TraceListener& operator=(const TraceListener&) = delete;

  bool listening() const { return static_cast<bool>(pipe_); }
  // The value for SAVER_INSTALLER_TRACE.
  const std::string& channelName() const { return name_; }

  std::vector<TraceEvent> events() const;
  // Waits until an event satisfying pred has come, or `ended` is signalled
  // (the process is gone) with none, or the time is up.  The first match.
  bool waitFor(const std::function<bool(const TraceEvent&)>& pred, HANDLE ended, DWORD timeoutMs,
               TraceEvent* found = nullptr) const;
  // Stops listening (the installer, if still connected, sees a broken channel).
  void stop();

private:
  void run();
  bool readMessage(std::string& message);
  bool acknowledge(char answer);
  bool completeIo(OVERLAPPED& ov, BOOL started);

  std::string name_;
  TraceHandler handler_;
  TraceAnswer answer_;
  UniqueKernelHandle pipe_, stopEvent_, ioEvent_, changed_;
  mutable ui::CriticalSection lock_;
  std::vector<TraceEvent> events_;
  std::unique_ptr<ui::BackgroundTask> task_;
};

}  // namespace e2e
