// Launcher messaging (declared in system/launcher_win32.h).
#include "system/launcher_win32.h"

#include <cstdint>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "base/process_state.h"
#include "system/command_line.h"
#include "system/win_text_win32.h"

namespace {

// Set once by the installer window when it is created; GUI thread only.
HWND senderWindow = nullptr;

HWND sender() { return senderWindow ? senderWindow : Application::instance().mainWindow(); }

std::vector<std::string> processParameters() { return commandLineParameters(winCommandLine().c_str()); }

// A launcher that did not answer in time: it is sent nothing more, and the
// install goes on as if there were none.
bool launcherUnresponsive = false;

// The report as the launcher receives it, without its terminator, as text.
std::string reportText(const COPYDATASTRUCT& record) {
  const char* data = static_cast<const char*>(record.lpData);
  return record.cbData > 0 && data ? fromAnsiText(data, record.cbData - 1) : std::string();
}

void send(COPYDATASTRUCT& record) {
  std::uint32_t launcher = processState().launcherWindow;
  if (launcher == 0 || launcherUnresponsive) {
    traceEvent("launcher", {reportText(record), launcher == 0 ? "no launcher" : "not sent, no answer before"});
    return;
  }
  // Waits until the launcher has handled it (returns at once for a handle
  // that is no window), but never longer than the timeout: a hung launcher
  // must not freeze the install.  The result means nothing to us.
  DWORD_PTR ignored = 0;
  SetLastError(0);
  if (!SendMessageTimeoutA(launcherHandle(launcher), WM_COPYDATA, reinterpret_cast<WPARAM>(sender()),
                           reinterpret_cast<LPARAM>(&record), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                           kOtherWindowTimeoutMs, &ignored) &&
      IsWindow(launcherHandle(launcher)))
    launcherUnresponsive = true;
  traceEvent("launcher", {reportText(record), launcherUnresponsive ? "no answer in time" : "sent"});
}

COPYDATASTRUCT recordFor(std::vector<char>& data) {
  COPYDATASTRUCT record{};
  record.dwData = 0;
  record.cbData = static_cast<DWORD>(data.size());
  record.lpData = data.data();
  return record;
}

// Launchers read 8-bit text in the system's code page: the UTF-8 text is
// converted, as the ANSI functions would report it ('?' for what is lacking).
std::vector<char> withTerminator(const std::string& text) {
  std::string ansi = toAnsiText(text);
  std::vector<char> data(ansi.begin(), ansi.end());
  data.push_back('\0');
  return data;
}

}  // namespace

HWND launcherHandle(std::uint32_t value) {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}

void setLauncherSenderWindow(HWND window) { senderWindow = window; }

void findLauncherWindow(const std::vector<std::string>& params) {
  // A value that is not a plain decimal number counts as no launcher.
  processState().launcherWindow = parseLauncherWindow(params);
}

void findLauncherWindow() { findLauncherWindow(processParameters()); }

void sendLauncherMessage(COPYDATASTRUCT& record, const std::vector<std::string>& params) {
  // While no launcher is known the command line is read again each time.
  if (processState().launcherWindow == 0) findLauncherWindow(params);
  send(record);
}

void sendLauncherMessage(COPYDATASTRUCT& record) {
  if (processState().launcherWindow == 0) findLauncherWindow();
  send(record);
}

void notifyLauncher(const std::string& text, const std::vector<std::string>& params) {
  std::vector<char> data = withTerminator(text);  // alive until the call returns
  COPYDATASTRUCT record = recordFor(data);
  sendLauncherMessage(record, params);
}

void notifyLauncher(const std::string& text) {
  std::vector<char> data = withTerminator(text);
  COPYDATASTRUCT record = recordFor(data);
  sendLauncherMessage(record);
}

void postLauncherClosed() {
  std::uint32_t launcher = processState().launcherWindow;
  // PostMessage to a null window would post to our own thread's queue.
  if (launcher == 0) return traceEvent("launcher closed", {"no launcher"});
  bool posted = PostMessageA(launcherHandle(launcher), kLauncherClosedMessage, 0, 0) != FALSE;
  traceEvent("launcher closed", {posted ? "posted" : "not posted"});
}
