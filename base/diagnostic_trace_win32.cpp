// The trace channel: the client end of a named pipe the test harness
// created, written from the GUI thread only; and the sink beside it.
#include "base/diagnostic_trace.h"

#include <windows.h>

namespace {

class Channel {
public:
  Channel() {
    char name[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableA(kTraceChannelVariable, name, sizeof name);
    if (n == 0 || n >= sizeof name) return;
    // Identification only: whoever serves that pipe cannot act as this
    // (possibly elevated) process.
    HANDLE pipe = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) pipe_ = pipe;
  }
  ~Channel() { close(); }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  bool open() const { return pipe_ != nullptr; }

  char send(const std::string& message) {
    if (!pipe_) return 0;
    DWORD written = 0, got = 0;
    char ack = 0;
    bool ok = WriteFile(pipe_, message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
              written == message.size() && ReadFile(pipe_, &ack, 1, &got, nullptr) && got == 1;
    if (!ok) close();
    return ok ? ack : 0;
  }

private:
  void close() {
    if (pipe_) CloseHandle(pipe_);
    pipe_ = nullptr;
  }
  HANDLE pipe_ = nullptr;
};

Channel& channel() {
  static Channel c;
  return c;
}

TraceSink sink = nullptr;

}  // namespace

void setTraceSink(TraceSink s) { sink = s; }

bool traceOn() { return sink || channel().open(); }

void traceEvent(const std::string& kind, const std::vector<std::string>& fields) { traceEventAnswered(kind, fields); }

char traceEventAnswered(const std::string& kind, const std::vector<std::string>& fields) {
  if (sink) sink(kind, fields);
  return channel().open() ? channel().send(encodeTraceEvent(kind, fields)) : 0;
}

void traceEvent(std::string_view kind, std::initializer_list<std::string_view> fields) {
  if (!traceOn()) return;
  traceEvent(std::string(kind), std::vector<std::string>(fields.begin(), fields.end()));
}

void traceEnter(const char* name) { traceEvent("enter", {name}); }

void traceLeave(const char* name) { traceEvent("leave", {name}); }

void traceLeave(const char* name, long result) {
  if (traceOn()) traceEvent("leave", {name, std::to_string(result)});
}
