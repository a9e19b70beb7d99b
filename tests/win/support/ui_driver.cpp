// UI driver for the Windows tests (see ui_driver.h for what was measured
// under Wine and why every action is posted rather than sent).
#include "tests/win/support/ui_driver.h"

#include <algorithm>
#include <utility>

#include "tests/fixtures/fixture_args.h"

namespace ui {

namespace {

// A bound only: a window's thread answers as soon as it next takes messages.
constexpr UINT kTextTimeoutMs = 5000;

std::string narrow(const wchar_t* text, int length) {
  if (length <= 0) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

bool titleMatches(const WindowQuery& q, const std::string& title) {
  if (q.title.empty()) return true;
  if (q.titleIsPrefix) return title.compare(0, q.title.size(), q.title) == 0;
  return title == q.title;
}

bool matches(const WindowQuery& q, HWND w) {
  if (q.visibleOnly && !IsWindowVisible(w)) return false;
  if (q.processId) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != q.processId) return false;
  }
  if (!q.className.empty() && windowClass(w) != q.className) return false;
  return titleMatches(q, windowTitle(w));
}

struct EnumState {
  const WindowQuery* query;
  std::vector<HWND>* found;
  bool firstOnly;
};

BOOL CALLBACK collectTopLevel(HWND w, LPARAM lp) {
  auto* state = reinterpret_cast<EnumState*>(lp);
  if (!matches(*state->query, w)) return TRUE;
  state->found->push_back(w);
  return state->firstOnly ? FALSE : TRUE;
}

std::vector<HWND> enumerate(const WindowQuery& q, bool firstOnly) {
  std::vector<HWND> found;
  EnumState state{&q, &found, firstOnly};
  EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&state));
  return found;
}

bool isPushButton(const ControlInfo& c) {
  if (_stricmp(c.className.c_str(), "Button") != 0) return false;
  DWORD type = c.style & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

void appendTree(HWND parent, std::vector<ControlInfo>& out) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    out.push_back(describeControl(c));
    appendTree(c, out);
  }
}

// lParam of a keyboard message: repeat count 1, the key's scan code, the
// extended-key flag, the context code (Alt held) in bit 29, and for key-up
// messages the previous-state (30) and transition (31) bits.
LPARAM keyLParam(UINT vk, bool up, bool alt) {
  UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
  LPARAM lp = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
  if (alt) lp |= LPARAM(1) << 29;
  if (up) lp |= (LPARAM(1) << 30) | (LPARAM(1) << 31);
  return lp;
}

HWND focusTarget(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  DWORD tid = GetWindowThreadProcessId(window, nullptr);
  if (GetGUIThreadInfo(tid, &info) && info.hwndFocus &&
      (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
    return info.hwndFocus;
  return window;
}

}  // namespace

WindowQuery WindowQuery::dialog(const std::string& title, DWORD processId) {
  WindowQuery q;
  q.className = kDialogClass;
  q.title = title;
  q.processId = processId;
  return q;
}

HWND findWindow(const WindowQuery& query) {
  std::vector<HWND> found = enumerate(query, true);
  return found.empty() ? nullptr : found.front();
}

std::vector<HWND> findWindows(const WindowQuery& query) { return enumerate(query, false); }

HWND waitForWindow(const WindowQuery& query, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND w = findWindow(query)) return w;
    if (elapsedMs(start) >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

bool waitForWindowGone(HWND window, DWORD timeoutMs, bool hiddenCounts) {
  DWORD start = GetTickCount();
  for (;;) {
    if (!IsWindow(window) || (hiddenCounts && !IsWindowVisible(window))) return true;
    if (elapsedMs(start) >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

std::string windowTitle(HWND window) {
  wchar_t buffer[1024];
  int n = InternalGetWindowText(window, buffer, static_cast<int>(sizeof buffer / sizeof buffer[0]));
  return narrow(buffer, n);
}

std::string controlText(HWND control) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &length))
    return windowTitle(control);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied))
    return windowTitle(control);
  text.resize(std::min(static_cast<size_t>(copied), text.size() - 1));
  return text;
}

std::string windowClass(HWND window) {
  char name[256] = {};
  int n = GetClassNameA(window, name, sizeof name);
  return std::string(name, static_cast<size_t>(n > 0 ? n : 0));
}

std::string dialogText(HWND dialog) {
  HWND label = GetDlgItem(dialog, kDialogTextId);
  return label ? controlText(label) : std::string();
}

HICON dialogIcon(HWND dialog) {
  for (const ControlInfo& c : descendants(dialog)) {
    if (!c.visible || _stricmp(c.className.c_str(), "Static") != 0) continue;
    if ((c.style & SS_TYPEMASK) != SS_ICON) continue;
    DWORD_PTR icon = 0;
    if (SendMessageTimeoutA(c.hwnd, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &icon))
      return reinterpret_cast<HICON>(icon);
  }
  return nullptr;
}

ControlInfo describeControl(HWND control) {
  ControlInfo c;
  c.hwnd = control;
  c.parent = GetAncestor(control, GA_PARENT);
  c.id = static_cast<int>(GetWindowLongPtrA(control, GWLP_ID));
  c.className = windowClass(control);
  c.text = controlText(control);
  c.style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE));
  c.visible = IsWindowVisible(control) != FALSE;
  c.enabled = IsWindowEnabled(control) != FALSE;
  RECT r = {};
  GetWindowRect(control, &r);
  MapWindowPoints(HWND_DESKTOP, c.parent, reinterpret_cast<POINT*>(&r), 2);
  c.rect = r;
  return c;
}

std::vector<ControlInfo> children(HWND parent) {
  std::vector<ControlInfo> out;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(describeControl(c));
  return out;
}

std::vector<ControlInfo> descendants(HWND parent) {
  std::vector<ControlInfo> out;
  appendTree(parent, out);
  return out;
}

std::vector<ControlInfo> buttons(HWND window) {
  std::vector<ControlInfo> out;
  for (ControlInfo& c : descendants(window))
    if (c.visible && isPushButton(c)) out.push_back(std::move(c));
  return out;
}

HWND findControl(HWND window, int id) {
  for (const ControlInfo& c : descendants(window))
    if (c.id == id) return c.hwnd;
  return nullptr;
}

std::string stripMnemonic(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] != '&') {
      out += caption[i];
    } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
      out += '&';
      ++i;
    }
  }
  return out;
}

HWND findControlByText(HWND window, const std::string& caption, const std::string& className) {
  std::string plain = stripMnemonic(caption);
  for (const ControlInfo& c : descendants(window)) {
    if (!className.empty() && _stricmp(c.className.c_str(), className.c_str()) != 0) continue;
    if (c.text == caption || stripMnemonic(c.text) == plain) return c.hwnd;
  }
  return nullptr;
}

namespace {

bool click(HWND button) {
  if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button)) return false;
  return PostMessageA(button, BM_CLICK, 0, 0) != FALSE;
}

}  // namespace

bool pressButton(HWND window, int id) { return click(findControl(window, id)); }

bool pressButton(HWND window, const std::string& caption) {
  return click(findControlByText(window, caption, "Button"));
}

bool pressButtonAndWait(HWND window, int id, DWORD timeoutMs) {
  return pressButton(window, id) && waitForWindowGone(window, timeoutMs);
}

bool sendKey(HWND window, Key key) {
  if (!IsWindow(window)) return false;
  HWND target = focusTarget(window);
  UINT vk = 0;
  switch (key) {
    case Key::Enter: vk = VK_RETURN; break;
    case Key::Escape: vk = VK_ESCAPE; break;
    case Key::Tab: vk = VK_TAB; break;
    case Key::Space: vk = VK_SPACE; break;
    case Key::AltF4:
      vk = VK_F4;
      break;
  }
  // Alt+F4 is only the F4 messages flagged as typed with Alt held: posting
  // the Alt key itself would let a lone Alt release start menu mode.
  bool alt = key == Key::AltF4;
  if (!PostMessageA(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, keyLParam(vk, false, alt))) return false;
  // The key-down may already have closed the window (and its posted queue
  // entry); the release is only for programs that act on it.
  PostMessageA(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, keyLParam(vk, true, alt));
  return true;
}

HWND rightClick(HWND window, POINT clientPoint) {
  RECT client = {};
  if (!GetClientRect(window, &client) || !PtInRect(&client, clientPoint)) return nullptr;
  HWND target = window;
  POINT pt = clientPoint;
  for (;;) {
    HWND child = ChildWindowFromPointEx(target, pt, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    if (!child || child == target) break;
    MapWindowPoints(target, child, &pt, 1);
    target = child;
  }
  LPARAM at = MAKELPARAM(pt.x, pt.y);
  PostMessageA(target, WM_MOUSEMOVE, 0, at);
  PostMessageA(target, WM_RBUTTONDOWN, MK_RBUTTON, at);
  PostMessageA(target, WM_RBUTTONUP, 0, at);
  return target;
}

int dismissDialogs(DWORD processId, DWORD timeoutMs) {
  WindowQuery q;
  q.className = kDialogClass;
  q.processId = processId;
  int closed = 0;
  DWORD start = GetTickCount();
  while (elapsedMs(start) < timeoutMs) {
    HWND dlg = findWindow(q);
    if (!dlg) break;
    std::vector<ControlInfo> row = buttons(dlg);
    auto usable = std::find_if(row.begin(), row.end(), [](const ControlInfo& c) { return c.enabled; });
    if (usable != row.end())
      PostMessageA(usable->hwnd, BM_CLICK, 0, 0);
    else
      PostMessageA(dlg, WM_CLOSE, 0, 0);
    if (waitForWindowGone(dlg, 500, true)) ++closed;
  }
  return closed;
}

// ---------------------------------------------------------------------------

bool waitPumping(HANDLE handle, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD left = 0;
    if (timeoutMs != INFINITE) {
      DWORD spent = elapsedMs(start);
      left = spent >= timeoutMs ? 0 : timeoutMs - spent;
    } else {
      left = INFINITE;
    }
    DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;  // timeout or failure
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void pumpFor(DWORD ms) {
  UniqueKernelHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  waitPumping(never.get(), ms);
}

BackgroundTask::BackgroundTask(std::function<void()> body) : body_(std::move(body)) {
  thread_.reset(CreateThread(nullptr, 0, entry, this, 0, nullptr));
}

BackgroundTask::~BackgroundTask() { join(); }

DWORD WINAPI BackgroundTask::entry(LPVOID self) {
  static_cast<BackgroundTask*>(self)->body_();
  return 0;
}

bool BackgroundTask::join(DWORD timeoutMs) {
  if (!thread_) return true;
  return waitPumping(thread_.get(), timeoutMs);
}

bool BackgroundTask::finished() const {
  return !thread_ || WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0;
}

namespace {

// What the hook of one driveModal call reports; one call at a time.
struct ModalWatch {
  const WindowQuery* query = nullptr;
  HWND window = nullptr;
  DWORD shownAt = 0;
  UniqueKernelHandle shown, gone;
};
ModalWatch* currentWatch = nullptr;

LRESULT CALLBACK modalWatchHook(int code, WPARAM wp, LPARAM lp) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lp);
  ModalWatch* watch = currentWatch;
  if (code == HC_ACTION && watch) {
    if (!watch->window && call->message == WM_WINDOWPOSCHANGED &&
        (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_SHOWWINDOW) &&
        GetAncestor(call->hwnd, GA_PARENT) == GetDesktopWindow() && matches(*watch->query, call->hwnd)) {
      watch->window = call->hwnd;
      watch->shownAt = GetTickCount();
      SetEvent(watch->shown.get());
    } else if (watch->window == call->hwnd && call->message == WM_NCDESTROY) {
      SetEvent(watch->gone.get());
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

ModalOutcome driveModal(const WindowQuery& query, const std::function<int()>& show,
                        const std::function<void(HWND)>& act, DWORD findTimeoutMs) {
  ModalOutcome out;
  UniqueKernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ModalWatch watch;
  watch.query = &query;
  watch.shown.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  watch.gone.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  currentWatch = &watch;
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, modalWatchHook, nullptr, GetCurrentThreadId());
  DWORD start = GetTickCount();
  BackgroundTask task([&] {
    if (WaitForSingleObject(watch.shown.get(), findTimeoutMs) == WAIT_OBJECT_0) {
      out.window = watch.window;
      out.foundMs = watch.shownAt - start;
      act(out.window);
      out.closed = WaitForSingleObject(watch.gone.get(), kModalTimeoutMs) == WAIT_OBJECT_0;
    }
    // show() runs here, in this process: its dialogs are the ones to clear.
    while (WaitForSingleObject(done.get(), 50) == WAIT_TIMEOUT) dismissDialogs(GetCurrentProcessId(), 200);
  });
  out.result = show();
  SetEvent(done.get());
  task.join();
  if (hook) UnhookWindowsHookEx(hook);
  currentWatch = nullptr;
  return out;
}

// ---------------------------------------------------------------------------

bool DialogRecord::hasButton(int id) const {
  return std::any_of(buttons.begin(), buttons.end(), [id](const DialogButton& b) { return b.id == id; });
}

DialogRecord recordDialog(HWND dialog) {
  DialogRecord r;
  r.title = windowTitle(dialog);
  r.text = dialogText(dialog);
  std::vector<ControlInfo> all = descendants(dialog);
  if (!GetDlgItem(dialog, kDialogTextId)) {
    for (const ControlInfo& c : all) {
      if (!c.visible || _stricmp(c.className.c_str(), "Static") != 0 || c.text.empty()) continue;
      if (!r.text.empty()) r.text += '\n';
      r.text += c.text;
    }
  }
  for (const ControlInfo& c : all)
    if (c.visible && isPushButton(c)) r.buttons.push_back({c.id, c.text});
  r.icon = dialogIcon(dialog);
  return r;
}

DialogRule answerWithFirstOf(std::vector<int> preferredIds) {
  return [ids = std::move(preferredIds)](const DialogRecord& r) {
    for (int id : ids)
      if (r.hasButton(id)) return id;
    return r.buttons.empty() ? 0 : r.buttons.front().id;
  };
}

DialogResponder::DialogResponder(DWORD processId, DialogRule rule)
    : processId_(processId), rule_(std::move(rule)), stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  task_ = new BackgroundTask([this] { run(); });
}

DialogResponder::~DialogResponder() { stop(); }

void DialogResponder::stop() {
  if (!task_) return;
  SetEvent(stopEvent_.get());
  delete task_;  // joins, pumping the caller's messages
  task_ = nullptr;
}

std::vector<DialogRecord> DialogResponder::records() const {
  Lock guard(lock_);
  return records_;
}

bool DialogResponder::waitForCount(size_t count, DWORD timeoutMs) const {
  DWORD start = GetTickCount();
  for (;;) {
    {
      Lock guard(lock_);
      if (records_.size() >= count) return true;
    }
    if (elapsedMs(start) >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

void DialogResponder::run() {
  std::vector<HWND> seen;  // answered dialogs that still exist
  while (WaitForSingleObject(stopEvent_.get(), kPollMs) == WAIT_TIMEOUT) poll(seen);
}

void DialogResponder::poll(std::vector<HWND>& seen) {
  seen.erase(std::remove_if(seen.begin(), seen.end(), [](HWND w) { return !IsWindow(w); }), seen.end());
  WindowQuery q;
  q.className = kDialogClass;
  q.processId = processId_;
  for (HWND dlg : findWindows(q)) {
    if (std::find(seen.begin(), seen.end(), dlg) != seen.end()) continue;
    seen.push_back(dlg);
    DialogRecord r = recordDialog(dlg);
    r.shownAtMs = GetTickCount();
    r.answer = rule_ ? rule_(r) : 0;
    if (r.answer && !pressButton(dlg, r.answer)) r.answer = 0;
    Lock guard(lock_);
    records_.push_back(std::move(r));
  }
}

// ---------------------------------------------------------------------------

std::string quoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  // Backslashes are literal except before a quote: double those, then
  // escape the quote.
  std::string out = "\"";
  size_t backslashes = 0;
  for (char ch : arg) {
    if (ch == '\\') {
      ++backslashes;
      continue;
    }
    if (ch == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += ch;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

ProcessRunner::~ProcessRunner() {
  if (running()) kill();
}

bool ProcessRunner::start(const std::string& exe, const std::vector<std::string>& args,
                          const std::string& workDir) {
  std::string line = quoteArgument(exe);
  for (const std::string& a : args) {
    line += ' ';
    line += quoteArgument(a);
  }
  // UTF-8 paths, started through the wide call: a path outside the code
  // page (an installer in "C:\下载\") must reach the program unchanged.
  auto wide = [](const std::string& s) {
    std::wstring w(s.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), static_cast<int>(w.size()));
    w.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return w;
  };
  std::wstring wideExe = wide(exe), wideLine = wide(line), wideDir = wide(workDir);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  auto create = [&] {
    return CreateProcessW(wideExe.c_str(), wideLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workDir.empty() ? nullptr : wideDir.c_str(), &si, &pi) != FALSE;
  };
  if (!fixture::startWithRetry(create, exe.c_str())) return false;
  CloseHandle(pi.hThread);
  process_.reset(pi.hProcess);
  processId_ = pi.dwProcessId;
  timedOut_ = false;
  return true;
}

bool ProcessRunner::startCommandLine(std::string commandLine,
                                     const std::vector<std::pair<std::string, std::string>>& environment) {
  for (const auto& [name, value] : environment) SetEnvironmentVariableA(name.c_str(), value.c_str());
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  BOOL ok = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  DWORD error = GetLastError();
  for (const auto& [name, value] : environment) SetEnvironmentVariableA(name.c_str(), nullptr);
  if (!ok) {
    SetLastError(error);
    return false;
  }
  CloseHandle(pi.hThread);
  process_.reset(pi.hProcess);
  processId_ = pi.dwProcessId;
  timedOut_ = false;
  return true;
}

bool ProcessRunner::running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool ProcessRunner::wait(DWORD timeoutMs) {
  return process_ && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

int ProcessRunner::waitOrKill(DWORD timeoutMs) {
  if (!wait(timeoutMs)) {
    timedOut_ = true;
    kill();
  }
  return exitCode();
}

void ProcessRunner::kill() {
  if (!running()) return;
  TerminateProcess(process_.get(), 0xDEAD);
  WaitForSingleObject(process_.get(), 5000);
}

int ProcessRunner::exitCode() const {
  DWORD code = 0;
  if (!process_ || !GetExitCodeProcess(process_.get(), &code)) return -1;
  return static_cast<int>(code);
}

}  // namespace ui
