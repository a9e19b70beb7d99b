// The test end of the installer's trace channel (see trace_listener.h).
#include "tests/win/support/trace_listener.h"

#include <cstdint>
#include <cstdlib>

#include "base/diagnostic_trace.h"

namespace e2e {

int TraceEvent::number(size_t i) const { return std::atoi(field(i).c_str()); }

HWND TraceEvent::window() const {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(field(0).c_str(), nullptr, 10)));
}

ui::DialogRecord TraceEvent::dialog() const {
  ui::DialogRecord r;
  r.title = field(1);
  r.text = field(2);
  for (size_t i = 3; i + 1 < fields.size(); i += 2) r.buttons.push_back({number(i), fields[i + 1]});
  return r;
}

TraceListener::TraceListener(TraceHandler handler, TraceAnswer answer)
    : handler_(std::move(handler)),
      answer_(std::move(answer)),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      ioEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      changed_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
  static LONG counter = 0;
  name_ = "\\\\.\\pipe\\saver-trace-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(InterlockedIncrement(&counter));
  HANDLE pipe = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return;
  pipe_.reset(pipe);
  task_ = std::make_unique<ui::BackgroundTask>([this] { run(); });
}

TraceListener::~TraceListener() { stop(); }

void TraceListener::stop() {
  if (!task_) return;
  SetEvent(stopEvent_.get());
  task_.reset();  // joins
}

std::vector<TraceEvent> TraceListener::events() const {
  ui::Lock guard(lock_);
  return events_;
}

bool TraceListener::waitFor(const std::function<bool(const TraceEvent&)>& pred, HANDLE ended, DWORD timeoutMs,
                            TraceEvent* found) const {
  DWORD start = GetTickCount();
  size_t checked = 0;
  bool endSeen = false;
  for (;;) {
    {
      ui::Lock guard(lock_);
      for (; checked < events_.size(); ++checked) {
        if (!pred(events_[checked])) continue;
        if (found) *found = events_[checked];
        return true;
      }
    }
    // Everything the process sent came before its end: one more look after it.
    if (endSeen) return false;
    DWORD spent = ui::elapsedMs(start);
    if (spent >= timeoutMs) return false;
    HANDLE handles[2] = {changed_.get(), ended};
    DWORD r = WaitForMultipleObjects(ended ? 2 : 1, handles, FALSE, timeoutMs - spent);
    if (r == WAIT_OBJECT_0 + 1) endSeen = true;
    else if (r != WAIT_OBJECT_0) return false;
  }
}

// Waits for an overlapped operation on the pipe to finish; false when it
// could not start or the listener is stopping (the operation is then
// cancelled, and waited for, since it writes into ov).  GetOverlappedResult
// then tells how it ended.
bool TraceListener::completeIo(OVERLAPPED& ov, BOOL started) {
  if (!started && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) return false;
  HANDLE handles[2] = {ov.hEvent, stopEvent_.get()};
  if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIo(pipe_.get());
    DWORD unused = 0;
    GetOverlappedResult(pipe_.get(), &ov, &unused, TRUE);
    return false;
  }
  return true;
}

bool TraceListener::readMessage(std::string& message) {
  message.clear();
  std::string buffer(65536, '\0');
  for (;;) {
    OVERLAPPED ov = {};
    ov.hEvent = ioEvent_.get();
    ResetEvent(ioEvent_.get());
    DWORD got = 0;
    if (!completeIo(ov, ReadFile(pipe_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &ov)))
      return false;
    if (GetOverlappedResult(pipe_.get(), &ov, &got, FALSE)) {
      message.append(buffer, 0, got);
      return true;
    }
    if (GetLastError() != ERROR_MORE_DATA) return false;
    message.append(buffer, 0, got);
  }
}

bool TraceListener::acknowledge(char answer) {
  OVERLAPPED ov = {};
  ov.hEvent = ioEvent_.get();
  ResetEvent(ioEvent_.get());
  DWORD written = 0;
  return completeIo(ov, WriteFile(pipe_.get(), &answer, 1, nullptr, &ov)) &&
         GetOverlappedResult(pipe_.get(), &ov, &written, FALSE) && written == 1;
}

void TraceListener::run() {
  for (;;) {
    OVERLAPPED ov = {};
    ov.hEvent = ioEvent_.get();
    ResetEvent(ioEvent_.get());
    DWORD unused = 0;
    if (!ConnectNamedPipe(pipe_.get(), &ov)) {
      DWORD e = GetLastError();
      if (e == ERROR_IO_PENDING) {
        if (!completeIo(ov, FALSE) || !GetOverlappedResult(pipe_.get(), &ov, &unused, FALSE)) return;
      } else if (e != ERROR_PIPE_CONNECTED) {
        return;
      }
    }
    std::string message;
    while (readMessage(message)) {
      TraceEvent event;
      if (!decodeTraceEvent(message, event.kind, event.fields)) event.kind = "malformed";
      if (handler_) handler_(event);
      {
        ui::Lock guard(lock_);
        events_.push_back(event);
      }
      SetEvent(changed_.get());
      if (!acknowledge(answer_ ? answer_(event) : 'k')) break;
    }
    if (WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) return;
    DisconnectNamedPipe(pipe_.get());  // the installer ended: ready for another
  }
}

}  // namespace e2e
