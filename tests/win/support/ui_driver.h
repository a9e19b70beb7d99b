// UI driver for the Windows tests: finds top-level windows and dialogs, reads
// their texts and controls, presses buttons, sends keys and clicks, answers
// every dialog a program shows, and starts programs with a time limit.
//
// It works for windows of the test process (driven from a second thread
// while the main thread sits in a modal loop) and for windows of another
// process alike, because it never relies on the calling thread's queue:
//   - titles are read with InternalGetWindowText, which sends no message, so
//     a search never blocks on a thread that does not pump;
//   - control texts are read with SendMessageTimeout(WM_GETTEXT), which Wine
//     marshals across processes (edit and rich-edit texts need it), falling
//     back to the stored window text when the owner does not answer;
//   - every action is posted (BM_CLICK, WM_KEYDOWN, WM_RBUTTONDOWN), never
//     sent: pressing a button that opens another modal dialog would otherwise
//     block the driver inside that dialog's loop.
//
// Measured under wine64 (Wine 8.0) on Xvfb without a window manager, with
// the prefix's X11 "Managed" setting off:
//   - a dialog of the test process (message box or DialogBox) is visible
//     20 to 25 ms after the call that shows it; the first one of a process
//     takes about 170 ms.  A message box of a freshly started process is
//     visible 80 to 280 ms after CreateProcess.  The driver polls every
//     20 ms; starting a trivial program and collecting its exit code takes
//     about 30 ms;
//   - a posted BM_CLICK answers both the system's message box and our own
//     dialogs; the box is gone (IsWindow false) 20 to 40 ms later;
//   - posted WM_KEYDOWN VK_RETURN / VK_ESCAPE to the focused control go
//     through the modal loop's IsDialogMessage: Enter presses the default
//     button, Esc sends IDCANCEL.  A loop that calls IsDialogMessage for an
//     ordinary top-level window (as the installer's does) behaves alike:
//     Enter presses its BS_DEFPUSHBUTTON.  A posted WM_SYSKEYDOWN VK_F4 with
//     the context-code bit (29) set makes DefWindowProc post SC_CLOSE, as
//     Alt+F4 does.  The key-down often closes the window before the key-up
//     is posted.  The focus of another thread is found with GetGUIThreadInfo;
//   - Wine's message box ends with IDCANCEL on Esc and on Alt+F4 whatever
//     its buttons: also an OK box (Windows: IDOK) and a Yes/No box (Windows
//     ignores both keys there);
//   - SendInput reaches the foreground window (a box just shown, of this or
//     another process, becomes it), so what it reaches depends on the order
//     of activation: it is not used, posting names the target explicitly;
//   - a posted WM_RBUTTONUP reaches DefWindowProc, which sends WM_CONTEXTMENU
//     with screen coordinates; a child's DefWindowProc passes it to its parent;
//   - Wine's message box: class "#32770", text in the static of id 0xFFFF
//     (style SS_NOPREFIX), icon in a static of id 0x440 and style SS_ICON
//     whose STM_GETICON gives the same shared handle LoadIcon(nullptr,
//     IDI_...) returns in the process; only the chosen buttons exist, in z
//     order left to right, captions "OK", "Cancel", "&Yes", "&No".  A word
//     longer than a line (a deep path without blanks) widens Wine's box
//     beyond the screen rather than breaking.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "system/handles_win32.h"

namespace ui {

constexpr DWORD kPollMs = 20;
// Time limits are bounds for a busy machine: waits end as soon as the state is there.
constexpr DWORD kDefaultTimeoutMs = 20000;
// How long driveModal waits for its window: a bound only, the window is
// reported by an event the moment it is shown.
constexpr DWORD kModalTimeoutMs = 30000;
constexpr char kDialogClass[] = "#32770";
constexpr int kDialogTextId = 0xFFFF;  // the static a message box puts its text in

// What to look for among the top-level windows.  Empty strings match
// anything; processId 0 matches every process.
struct WindowQuery {
  std::string className;
  std::string title;
  bool titleIsPrefix = false;
  DWORD processId = 0;
  bool visibleOnly = true;  // a dialog becomes visible only after WM_INITDIALOG

  // A dialog ("#32770") of this process with exactly this title.
  static WindowQuery dialog(const std::string& title, DWORD processId = GetCurrentProcessId());
};

// One poll: the first matching top-level window in z order, or nullptr.
HWND findWindow(const WindowQuery& query);
// Every matching top-level window, in z order.
std::vector<HWND> findWindows(const WindowQuery& query);
// Polls until a match appears; nullptr on timeout.
HWND waitForWindow(const WindowQuery& query, DWORD timeoutMs = kDefaultTimeoutMs);
// Polls until the window no longer exists (or is hidden, when requested).
bool waitForWindowGone(HWND window, DWORD timeoutMs = kDefaultTimeoutMs, bool hiddenCounts = false);

// Texts.  windowTitle never sends a message; controlText asks the owner
// (WM_GETTEXT with a time limit), so it reads edit and rich-edit contents too.
std::string windowTitle(HWND window);
std::string controlText(HWND control);
std::string windowClass(HWND window);
// The text of the 0xFFFF static (message boxes and our Abort box); empty
// when the window has none.
std::string dialogText(HWND dialog);
// The icon a dialog shows (first visible SS_ICON static), nullptr if none.
HICON dialogIcon(HWND dialog);

struct ControlInfo {
  HWND hwnd = nullptr;
  HWND parent = nullptr;
  int id = 0;
  std::string className;
  std::string text;
  DWORD style = 0;
  bool visible = false;  // IsWindowVisible: the control and all its parents
  bool enabled = false;
  RECT rect = {};        // in the parent's client coordinates
};

ControlInfo describeControl(HWND control);
// Direct children in z order (for controls created without z changes, the
// creation order).
std::vector<ControlInfo> children(HWND parent);
// All descendants, depth first, each followed by its own children.
std::vector<ControlInfo> descendants(HWND parent);
// Visible push buttons among the descendants, in z order.
std::vector<ControlInfo> buttons(HWND window);
// The first descendant with this id / with this caption (compared with and
// without '&' mnemonics); nullptr if none.
HWND findControl(HWND window, int id);
HWND findControlByText(HWND window, const std::string& caption, const std::string& className = "");
// A caption without its '&' mnemonic markers ("&&" stays one '&').
std::string stripMnemonic(const std::string& caption);

// Presses a visible, enabled button (posted BM_CLICK).  False when there is
// no such button or it is hidden or disabled, as a user could not press it.
// Posted input takes effect when the window's thread next pumps messages:
// from that thread itself, follow with pumpFor or waitPumping.
bool pressButton(HWND window, int id);
bool pressButton(HWND window, const std::string& caption);
// Presses and waits until the window is gone.
bool pressButtonAndWait(HWND window, int id, DWORD timeoutMs = kDefaultTimeoutMs);

enum class Key { Enter, Escape, AltF4, Tab, Space };
// Posts the key's down and up messages to the control that has the focus in
// the window's thread when it lies inside window, else to window itself.
bool sendKey(HWND window, Key key);
// A right click at a point of window's client area: posted to the deepest
// visible child under the point, in that child's coordinates.  Returns the
// window that received it, nullptr when the point is outside.
HWND rightClick(HWND window, POINT clientPoint);

// Presses the first enabled button (or posts WM_CLOSE) of every visible
// dialog of the process until none is left; a safety net so that a failed
// test never leaves the main thread stuck in a modal loop.  Returns how many
// dialogs it closed.
int dismissDialogs(DWORD processId = GetCurrentProcessId(), DWORD timeoutMs = 2000);

// ---------------------------------------------------------------------------
// Threads without std::thread (the mingw "win32" flavour has none).

// Runs a function on its own thread.  join() pumps the caller's messages
// while it waits, so a task that talks to the caller's windows cannot
// deadlock with it.  The destructor joins (without a time limit).
class BackgroundTask {
public:
  explicit BackgroundTask(std::function<void()> body);
  ~BackgroundTask();
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  bool join(DWORD timeoutMs = INFINITE);
  bool finished() const;

private:
  static DWORD WINAPI entry(LPVOID self);
  std::function<void()> body_;
  UniqueKernelHandle thread_;
};

// Waits up to timeoutMs for the handle while dispatching the calling
// thread's messages.  True when the handle was signalled.
bool waitPumping(HANDLE handle, DWORD timeoutMs);
// Dispatches the calling thread's messages for ms milliseconds.
void pumpFor(DWORD ms);

class CriticalSection {
public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void lock() { EnterCriticalSection(&cs_); }
  void unlock() { LeaveCriticalSection(&cs_); }

private:
  CRITICAL_SECTION cs_;
};

class Lock {
public:
  explicit Lock(CriticalSection& cs) : cs_(cs) { cs_.lock(); }
  ~Lock() { cs_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

private:
  CriticalSection& cs_;
};

// Runs show() on the calling thread, which sits in a modal loop until the
// window closes, while act(window) runs on a second thread with the first
// top-level window matching query that the calling thread shows.  Whatever
// act does, every dialog of this process still open afterwards is
// dismissed until show() has returned, so a failed test never leaves the
// caller stuck in the loop.
//
// The window is not searched for: a hook on the calling thread reports it
// when it has been shown (WM_WINDOWPOSCHANGED with SWP_SHOWWINDOW) and when
// it is destroyed, so a busy machine only makes the wait longer.
struct ModalOutcome {
  int result = 0;          // what show() returned
  HWND window = nullptr;   // nullptr: nothing matching appeared in time
  DWORD foundMs = 0;       // from the call of show() until the window was shown
  bool closed = false;     // the window was destroyed after act (within the time limit)
};
ModalOutcome driveModal(const WindowQuery& query, const std::function<int()>& show,
                        const std::function<void(HWND)>& act, DWORD findTimeoutMs = kModalTimeoutMs);

// ---------------------------------------------------------------------------
// Answering every dialog a program shows.

struct DialogButton {
  int id = 0;
  std::string caption;
};

struct DialogRecord {
  std::string title;
  std::string text;  // the 0xFFFF static, else the visible statics joined by '\n'
  std::vector<DialogButton> buttons;
  HICON icon = nullptr;
  int answer = 0;      // the button pressed (0: the rule chose none, or it was not there)
  DWORD shownAtMs = 0; // GetTickCount when the responder first saw it

  bool hasButton(int id) const;
};

DialogRecord recordDialog(HWND dialog);

// Returns the id of the button to press, or 0 to leave the dialog alone.
using DialogRule = std::function<int(const DialogRecord&)>;
// Presses the first of the ids the dialog has; falls back to its first button.
DialogRule answerWithFirstOf(std::vector<int> preferredIds);

// Watches for dialogs ("#32770", visible) of one process on a thread of its
// own, records each once and answers it by the rule.
class DialogResponder {
public:
  DialogResponder(DWORD processId, DialogRule rule);
  ~DialogResponder();
  DialogResponder(const DialogResponder&) = delete;
  DialogResponder& operator=(const DialogResponder&) = delete;

  // Stops watching (joins the thread); records stay readable.
  void stop();
  std::vector<DialogRecord> records() const;
  // Waits until at least count dialogs have been recorded.
  bool waitForCount(size_t count, DWORD timeoutMs = kDefaultTimeoutMs) const;

private:
  void run();
  void poll(std::vector<HWND>& seen);

  DWORD processId_;
  DialogRule rule_;
  mutable CriticalSection lock_;
  std::vector<DialogRecord> records_;
  UniqueKernelHandle stopEvent_;
  BackgroundTask* task_ = nullptr;
};

// ---------------------------------------------------------------------------
// Starting programs.

// Quotes one argument the way CommandLineToArgvW and the C runtime split it.
std::string quoteArgument(const std::string& arg);

class ProcessRunner {
public:
  ProcessRunner() = default;
  ~ProcessRunner();  // kills a process still running
  ProcessRunner(const ProcessRunner&) = delete;
  ProcessRunner& operator=(const ProcessRunner&) = delete;

  // exe is a Windows path; args are quoted as needed.  workDir empty: the
  // caller's current folder.  A start Wine refuses is tried once more
  // after a pause.  False (with GetLastError) when it cannot start.
  bool start(const std::string& exe, const std::vector<std::string>& args = {},
             const std::string& workDir = "");
  // Starts a whole command line as Windows starts a saver or an uninstall
  // entry's command (CreateProcessA, no separate program name: the line is
  // in the ANSI code page, and Windows 9x has the A call only), with these
  // environment variables set for it.
  bool startCommandLine(std::string commandLine,
                        const std::vector<std::pair<std::string, std::string>>& environment = {});
  DWORD processId() const { return processId_; }
  HANDLE handle() const { return process_.get(); }
  bool running() const;
  // Waits for the end; true when it ended within the time.
  bool wait(DWORD timeoutMs);
  // Waits; on timeout kills the process (exit code 0xDEAD) and notes it.
  // Returns the exit code as the program's signed 32-bit value.
  int waitOrKill(DWORD timeoutMs);
  void kill();
  bool timedOut() const { return timedOut_; }
  int exitCode() const;

private:
  UniqueKernelHandle process_;
  DWORD processId_ = 0;
  bool timedOut_ = false;
};

// Elapsed milliseconds since start (GetTickCount arithmetic wraps safely).
inline DWORD elapsedMs(DWORD start) { return GetTickCount() - start; }

}  // namespace ui
