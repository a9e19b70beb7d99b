#include "app/dialogs_win32.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "base/install_ui.h"
#include "base/messages.h"
#include "base/process_state.h"
#include "resources/resource_ids.h"
#include "system/win_text_win32.h"

namespace {

LPCSTR iconFor(DialogKind kind) {
  switch (kind) {
    case DialogKind::Information: return IDI_INFORMATION;
    case DialogKind::Confirm: return IDI_QUESTION;
    default: return IDI_ERROR;
  }
}

UINT iconFlagFor(DialogKind kind) {
  switch (kind) {
    case DialogKind::Error: return MB_ICONERROR;
    case DialogKind::Information: return MB_ICONINFORMATION;
    case DialogKind::Confirm: return MB_ICONQUESTION;
    default: return 0;
  }
}

struct AbortBoxArgs {
  std::string title;
  std::string text;
  DialogKind kind;
};

// The label draws like a message box's text: '&' is shown as it is (a path
// may contain one), and a word longer than the line (a long path without
// blanks) breaks inside instead of widening the box past the screen.
constexpr DWORD kLabelStyles = SS_NOPREFIX | SS_EDITCONTROL;
constexpr UINT kLabelDrawFlags = DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | DT_EDITCONTROL;

// Sizes the lone-Abort box to its text the way the system's box does: the
// text wraps at a fixed maximum width, the button is centred below it.
void layoutAbortBox(HWND dlg, const std::string& text) {
  HWND label = GetDlgItem(dlg, IDC_ABORTBOX_TEXT);
  HWND icon = GetDlgItem(dlg, IDC_ABORTBOX_ICON);
  HWND button = GetDlgItem(dlg, IDABORT);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
  RECT tr = {0, 0, 420, 0};
  winDrawText(dc, text, tr, DT_CALCRECT | kLabelDrawFlags);
  SelectObject(dc, old);
  ReleaseDC(label, dc);

  const int margin = 12, iconSize = 32, gap = 12, buttonW = 88, buttonH = 26;
  int textW = tr.right - tr.left, textH = tr.bottom - tr.top;
  int textTop = margin + (textH < iconSize ? (iconSize - textH) / 2 : 0);
  int contentH = textH > iconSize ? textH : iconSize;
  int clientW = margin + iconSize + gap + textW + margin;
  if (clientW < buttonW + 2 * margin) clientW = buttonW + 2 * margin;
  int clientH = margin + contentH + gap + buttonH + margin;

  MoveWindow(icon, margin, margin, iconSize, iconSize, FALSE);
  MoveWindow(label, margin + iconSize + gap, textTop, textW + 4, textH, FALSE);
  MoveWindow(button, (clientW - buttonW) / 2, margin + contentH + gap, buttonW, buttonH, FALSE);

  RECT wr = {0, 0, clientW, clientH};
  AdjustWindowRectEx(&wr, static_cast<DWORD>(GetWindowLongA(dlg, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(dlg, GWL_EXSTYLE)));
  int w = wr.right - wr.left, h = wr.bottom - wr.top;
  SetWindowPos(dlg, HWND_TOPMOST, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, 0);
}

INT_PTR CALLBACK abortBoxProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* args = reinterpret_cast<AbortBoxArgs*>(lp);
      winSetWindowText(dlg, args->title);
      HWND label = GetDlgItem(dlg, IDC_ABORTBOX_TEXT);
      SetWindowLongPtrA(label, GWL_STYLE, GetWindowLongPtrA(label, GWL_STYLE) | kLabelStyles);
      winSetWindowText(label, args->text);
      SendDlgItemMessageA(dlg, IDC_ABORTBOX_ICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(LoadIconA(nullptr, iconFor(args->kind))), 0);
      layoutAbortBox(dlg, args->text);
      MessageBeep(iconFlagFor(args->kind));
      return TRUE;  // focus goes to the default button
    }
    case WM_COMMAND:
      // Abort, Enter (the default button) and Esc (IDCANCEL) all end it with Abort.
      if (LOWORD(wp) == IDABORT || LOWORD(wp) == IDCANCEL || LOWORD(wp) == IDOK) {
        EndDialog(dlg, IDABORT);
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(dlg, IDABORT);
      return TRUE;
  }
  return FALSE;
}

// Wine ends every message box with IDCANCEL on Esc or Alt+F4, even one
// without a Cancel button, where Windows gives IDOK (OK box) or ignores the
// key (Yes/No box).  A result outside the row becomes the row's negative
// answer, so callers only ever see the id of a button that was shown.
int answerWithinRow(DialogButtons buttons, int result) {
  if (result == 0) return 0;  // the box could not be shown
  switch (buttons) {
    case DialogButtons::YesNo: return result == IDYES ? IDYES : IDNO;
    case DialogButtons::OkCancel: return result == IDOK ? IDOK : IDCANCEL;
    case DialogButtons::Abort: return IDABORT;
    default: return IDOK;
  }
}

std::string windowText(HWND w) {
  char buffer[4096] = {};
  if (w) GetWindowTextA(w, buffer, sizeof buffer);
  return buffer;
}

// Traces a dialog once it is set up (its WM_INITDIALOG has returned): its
// handle, title, text and the id and caption of each button it shows.
LRESULT CALLBACK traceDialogHook(int code, WPARAM wp, LPARAM lp) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lp);
  if (code == HC_ACTION && call->message == WM_INITDIALOG) {
    HWND dlg = call->hwnd;
    std::vector<std::string> fields = {std::to_string(reinterpret_cast<std::uintptr_t>(dlg)), windowText(dlg),
                                       windowText(GetDlgItem(dlg, IDC_ABORTBOX_TEXT))};
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
      HWND button = GetDlgItem(dlg, id);
      if (!button || !(GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE)) continue;
      fields.push_back(std::to_string(id));
      fields.push_back(windowText(button));
    }
    traceEvent("dialog", fields);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// Watches the dialogs this thread shows while it lives, when tracing.
class DialogTrace {
public:
  DialogTrace()
      : hook_(traceOn() ? SetWindowsHookExA(WH_CALLWNDPROCRET, traceDialogHook, nullptr, GetCurrentThreadId())
                        : nullptr) {}
  ~DialogTrace() {
    if (hook_) UnhookWindowsHookEx(hook_);
  }
  DialogTrace(const DialogTrace&) = delete;
  DialogTrace& operator=(const DialogTrace&) = delete;

private:
  HHOOK hook_;
};

HWND dialogOwner() {
  HWND active = GetActiveWindow();
  if (active) return active;
  HWND main = Application::instance().mainWindow();
  return main && IsWindow(main) ? main : nullptr;
}

}  // namespace

int showMessageDialog(DialogKind kind, DialogButtons buttons, const std::string& text) {
  if (kind == DialogKind::None) return 0;
  std::string title = dialogTitle(kind);
  HWND owner = dialogOwner();
  DialogTrace trace;
  if (buttons == DialogButtons::Abort) {
    AbortBoxArgs args{title, text, kind};
    return static_cast<int>(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABORTBOX), owner,
                                            abortBoxProc, reinterpret_cast<LPARAM>(&args)));
  }
  UINT type = iconFlagFor(kind) | MB_TOPMOST | (owner ? 0u : MB_TASKMODAL);
  switch (buttons) {
    case DialogButtons::YesNo: type |= MB_YESNO; break;
    case DialogButtons::OkCancel: type |= MB_OKCANCEL; break;
    default: type |= MB_OK; break;
  }
  return answerWithinRow(buttons, winMessageBox(owner, text, title, type));
}

int showMessage(const MessageSpec& spec) {
  if (!spec.show) return 0;
  std::string title = spec.kind == DialogKind::Plain ? Application::instance().title() : dialogTitle(spec.kind);
  // Nobody is there to answer: the dialog's default is taken, and logged.
  if (processState().unattended) {
    int answer = unattendedAnswer(spec.buttons);
    traceEvent("dialog default", {title, spec.text, buttonName(answer)});
    return answer;
  }
  int answer = IDOK;
  if (spec.kind == DialogKind::Plain)
    showPlainMessage(spec.text);
  else
    answer = showMessageDialog(spec.kind, spec.buttons, spec.text);
  traceEvent("dialog closed", {buttonName(answer)});
  return answer;
}

void showPlainMessage(const std::string& text) {
  HWND owner = dialogOwner();
  DialogTrace trace;
  winMessageBox(owner, text, Application::instance().title(), MB_OK | MB_TOPMOST | (owner ? 0u : MB_TASKMODAL));
}


void reportInstallError(ErrorCode code, const std::string& fileName) {
  std::string system = code == errTempCopyFailed ? systemErrorText(code) : std::string();
  showMessage(installErrorMessage(code, fileName, system));
}

void showStartupError(ErrorCode code) { showMessage(startupErrorMessage(code)); }
