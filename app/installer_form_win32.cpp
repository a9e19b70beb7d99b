#include "app/installer_form_win32.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstdint>
#include <memory>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "app/dialogs_win32.h"
#include "app/preparing_window_win32.h"
#include "app/preview_image_win32.h"
#include "base/process_state.h"
#include "base/text.h"
#include "app/ui_common_win32.h"
#include "flash/flash_panel_win32.h"
#include "package/extraction_win32.h"
#include "system/file_stream_win32.h"
#include "system/launcher_win32.h"
#include "system/system_library_win32.h"
#include "system/win_text_win32.h"

namespace {

constexpr UINT_PTR kPauseTimerId = 1;
constexpr UINT kPauseInterval = 100;
constexpr DWORD kFixedStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kSizeableStyle = kFixedStyle | WS_THICKFRAME;
constexpr const char* kPanelClass = "TPanel";

// The one installer window of the process; it outlives its HWND so that
// handlers running when the window closes may finish.
std::unique_ptr<TInstallerForm> theForm;

HWND makeControl(const char* cls, const char* text, DWORD style, int x, int y, int w, int h, HWND parent, int id,
                 DWORD exStyle = 0) {
  HWND c = CreateWindowExA(exStyle, cls, text, WS_CHILD | style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(installerFont()), FALSE);
  return c;
}

void setBounds(HWND w, int x, int y, int width, int height) {
  SetWindowPos(w, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT boundsInParent(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

void createInstallerForm(PreparingWindow& preparing) {
  theForm = std::make_unique<TInstallerForm>(preparing);
  if (!theForm->create()) Application::instance().terminate();
}

void destroyInstallerForm() { theForm.reset(); }

TInstallerForm::TInstallerForm(PreparingWindow& preparing) : preparing_(preparing) {
  // Closing the preparing window is closing the installer.
  preparing_.onClose = [this] { requestClose(); };
}

TInstallerForm::~TInstallerForm() {
  preparing_.onClose = nullptr;
  moviePanel_.reset();
  bmpPanel_.reset();
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

bool TInstallerForm::create() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  registerWindowClass(kClassName, windowProc, true);
  registerWindowClass(kPanelClass, panelProc, false);

  // Always on top, single border with only the system menu.
  hwnd_ = CreateWindowExA(WS_EX_TOPMOST, kClassName, "", kFixedStyle, 0, 0, kWindowWidth, 400, nullptr, nullptr,
                          instance, this);
  if (!hwnd_) return false;
  createControls();
  setLauncherSenderWindow(hwnd_);
  // No context menu anywhere in the installer, the movie included.
  Application::instance().messageFilter = [](MSG& msg) { return msg.message == WM_RBUTTONDOWN; };

  startingUp_ = true;
  try {
    initializeInstaller();
  } catch (const std::exception&) {
    // A step raised instead of returning a code: end as a failed start-up.
    Application::instance().setExitCode(errUnspecified);
    showStartupError(errUnspecified);
    closeAndTerminate();
  }
  startingUp_ = false;
  if (!Application::instance().terminated() && hwnd_ && IsWindow(hwnd_)) {
    Application::instance().setMainWindow(hwnd_);
    ShowWindow(hwnd_, SW_SHOW);
    FormShow();
    traceEvent("window", {std::to_string(reinterpret_cast<std::uintptr_t>(hwnd_))});
  }
  return true;
}

void TInstallerForm::createControls() {
  contentPanel_ = makeControl(kPanelClass, "", WS_VISIBLE | WS_CLIPCHILDREN, 0, 1, 482, 272, hwnd_, idContentPanel);
  SetWindowLongPtrA(contentPanel_, GWLP_USERDATA, 1);  // marks the lowered bevel
  bmpPanel_ = std::make_unique<PreviewImage>(contentPanel_, idBmpPanel, 1, 1, 480, 270);
  moviePanel_ = std::make_unique<TFlashPanel>(contentPanel_, idMoviePanel, 1, 1, 480, 270);

  richEdit_.reset(loadSystemLibrary("riched20.dll"));
  license_ = makeControl(richEdit_ ? "RichEdit20A" : "EDIT", "",
                         WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 272, 1350, 510, hwnd_,
                         idLicenseBox, WS_EX_CLIENTEDGE);

  buttonPanel_ = makeControl(kPanelClass, "", WS_VISIBLE | WS_CLIPCHILDREN, 0, 783, 482, kButtonPanelHeight, hwnd_,
                             idButtonPanel);
  labFile_ = makeControl("STATIC", "", SS_LEFTNOWORDWRAP, -1, 2, 190, 18, buttonPanel_, idLabFile);
  labCopying_ = makeControl("STATIC", "", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 2, 3, 360, 13, buttonPanel_, idLabCopying);
  installButn_ = makeControl("STATIC", "", WS_DISABLED, 24, 40, 3, 13, buttonPanel_, idInstallButn);
  progressBar_ = makeControl(PROGRESS_CLASSA, "", WS_VISIBLE, 1, 20, 480, 12, buttonPanel_, idProgressBar);
  SendMessageA(progressBar_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageA(progressBar_, PBM_SETSTEP, 1, 0);
  installBtn_ = makeControl("BUTTON", loadText(IDS_INSTALL_BUTTON_DESIGN).c_str(), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                            401, 36, 80, 25, buttonPanel_, idInstallBtn);
  doneBtn_ = makeControl("BUTTON", "", WS_TABSTOP | BS_PUSHBUTTON, 400, 36, 80, 25, buttonPanel_, idDoneBtn);
  cancelBtn_ = makeControl("BUTTON", loadText(IDS_CANCEL_BUTTON).c_str(), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 316,
                           36, 80, 25, buttonPanel_, idCancelBtn);
}

LRESULT CALLBACK TInstallerForm::panelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
      return SendMessageA(GetParent(hwnd), msg, wp, lp);
    case WM_PAINT:
      if (GetWindowLongPtrA(hwnd, GWLP_USERDATA) == 1) {  // lowered outer bevel
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        EndPaint(hwnd, &ps);
        return 0;
      }
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK TInstallerForm::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    reinterpret_cast<TInstallerForm*>(cs->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<TInstallerForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
  // An exception must never unwind into the system's message dispatch.
  try {
    return self->handleMessage(msg, wp, lp);
  } catch (const std::exception&) {
    return 0;
  }
}

LRESULT TInstallerForm::handleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (keepBusyCursor(msg)) return TRUE;
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) {
        switch (LOWORD(wp)) {
          case idInstallBtn: installBtnClick(); return 0;
          case idCancelBtn: cancelBtnClick(); return 0;
          case idDoneBtn: doneBtnClick(); return 0;
          case IDCANCEL: return 0;  // Esc from dialog navigation: not a close
        }
      }
      break;
    case WM_TIMER:
      if (wp == kPauseTimerId) {  // pauseTimerTimer
        KillTimer(hwnd_, kPauseTimerId);
        paused_ = false;
        return 0;
      }
      break;
    case WM_SIZE:
      FormResize();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      if (minWidth_) info->ptMinTrackSize.x = minWidth_;
      if (minHeight_) info->ptMinTrackSize.y = minHeight_;
      if (maxWidth_) info->ptMaxTrackSize.x = maxWidth_;
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
      requestClose();
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      return 0;
  }
  return DefWindowProcA(hwnd_, msg, wp, lp);
}

// --- layout -----------------------------------------------------------------

void TInstallerForm::setClientHeight(int height) {
  RECT wr, cr;
  GetWindowRect(hwnd_, &wr);
  GetClientRect(hwnd_, &cr);
  int frame = (wr.bottom - wr.top) - cr.bottom;
  SetWindowPos(hwnd_, nullptr, 0, 0, wr.right - wr.left, height + frame, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TInstallerForm::arrangeWithoutLicense() {
  SetWindowPos(installBtn_, nullptr, 0, 0, kInstallWidth, 25, SWP_NOMOVE | SWP_NOZORDER);
  winSetWindowText(installBtn_, loadText(IDS_INSTALL_BUTTON));
  ShowWindow(license_, SW_HIDE);
  sizeable_ = false;
  SetWindowLongA(hwnd_, GWL_STYLE, kFixedStyle);
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  int height = kPreviewBottom + 2 + 2 + kButtonPanelHeight;  // 340
  minHeight_ = height;
  setClientHeight(height);
}

namespace {
struct StreamSource {
  const std::string* text;
  size_t pos;
};
DWORD CALLBACK streamIn(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* got) {
  auto* src = reinterpret_cast<StreamSource*>(cookie);
  size_t n = std::min<size_t>(static_cast<size_t>(size), src->text->size() - src->pos);
  memcpy(buffer, src->text->data() + src->pos, n);
  src->pos += n;
  *got = static_cast<LONG>(n);
  return 0;
}
}  // namespace

bool TInstallerForm::arrangeWithLicense(const std::string& licensePath) {
  FileStream file;
  std::uint64_t size = 0;
  std::string text;
  ErrorCode e = file.openRead(licensePath);
  if (e == errOk) e = file.size(size);
  if (e == errOk && size > 16u * 1024 * 1024) e = errCorruptPackage;  // no license is that long
  if (e == errOk) {
    text.resize(static_cast<size_t>(size));
    e = file.readExact(text.data(), text.size());
  }
  if (e != errOk) return false;
  // Rich text when it is rich text, otherwise plain text in the window's font.
  SendMessageA(license_, WM_SETFONT, reinterpret_cast<WPARAM>(installerFont()), FALSE);
  StreamSource src{&text, 0};
  EDITSTREAM es = {reinterpret_cast<DWORD_PTR>(&src), 0, streamIn};
  bool rtf = text.compare(0, 5, "{\\rtf") == 0 &&
             SendMessageA(license_, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&es)) > 0 && es.dwError == 0;
  if (!rtf) {
    src.pos = 0;
    es.dwError = 0;
    if (SendMessageA(license_, EM_STREAMIN, SF_TEXT, reinterpret_cast<LPARAM>(&es)) == 0 && !text.empty())
      SetWindowTextA(license_, text.c_str());  // the file's own bytes, not the program's text
  }
  ShowWindow(license_, SW_SHOW);
  sizeable_ = true;
  SetWindowLongA(hwnd_, GWL_STYLE, kSizeableStyle);
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  minHeight_ = kPreviewBottom + 2 + kLicenseHeight + 4 + kButtonPanelHeight + 20;  // 465
  minWidth_ = maxWidth_ = kWindowWidth;
  SetWindowPos(installBtn_, nullptr, 0, 0, kInstallWidthLicense, 25, SWP_NOMOVE | SWP_NOZORDER);
  winSetWindowText(installBtn_, loadText(IDS_ACCEPT_INSTALL_BUTTON));
  ShowWindow(cancelBtn_, SW_SHOW);
  return true;
}

void TInstallerForm::placeButtons() {
  RECT panel, cancel, install;
  GetClientRect(buttonPanel_, &panel);
  cancel = boundsInParent(cancelBtn_);
  install = boundsInParent(installBtn_);
  int cancelLeft = panel.right - 1 - (cancel.right - cancel.left);
  SetWindowPos(cancelBtn_, nullptr, cancelLeft, cancel.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetWindowPos(installBtn_, nullptr, cancelLeft - 6 - (install.right - install.left), install.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
}

void TInstallerForm::layoutInstallerForm() {
  placeButtons();
  fitClientHeight();
}

void TInstallerForm::fitClientHeight() {
  setClientHeight(hasLicense_ ? kPreviewBottom + 2 + kLicenseHeight + 4 + kButtonPanelHeight
                              : kPreviewBottom + 2 + kButtonPanelHeight);
}

void TInstallerForm::FormResize() {
  if (!buttonPanel_) return;
  RECT c;
  GetClientRect(hwnd_, &c);
  setBounds(buttonPanel_, 1, c.bottom - kButtonPanelHeight, c.right - 2, kButtonPanelHeight);
  // The progress bar keeps its distance to both edges.
  setBounds(progressBar_, 1, 20, c.right - 2 - 2, 12);
  placeButtons();
  int buttonTop = c.bottom - kButtonPanelHeight;
  setBounds(license_, 0, kPreviewBottom + 2, c.right, buttonTop - kPreviewBottom - 6);
}

void TInstallerForm::FormShow() {
  SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(hwnd_);
}

// --- status, progress, pauses -----------------------------------------------

void TInstallerForm::showStatus(const std::string& text) {
  if (runMode_ == 4) return;
  ShowWindow(labCopying_, SW_SHOW);
  winSetWindowText(labCopying_, text);
  InvalidateRect(labCopying_, nullptr, TRUE);
  UpdateWindow(labCopying_);
  traceEvent("status", {text});
}

void TInstallerForm::stepProgress() {
  if (runMode_ == 4) return;
  SendMessageA(progressBar_, PBM_STEPIT, 0, 0);
  traceEvent("progress", {std::to_string(SendMessageA(progressBar_, PBM_GETPOS, 0, 0))});
  pauseWithMessages();
}

void TInstallerForm::setProgress(int position) {
  SendMessageA(progressBar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  traceEvent("progress", {std::to_string(SendMessageA(progressBar_, PBM_GETPOS, 0, 0))});
}

void TInstallerForm::pauseWithMessages() {
  Application& app = Application::instance();
  if (!hwnd_) return;
  paused_ = true;
  SetTimer(hwnd_, kPauseTimerId, kPauseInterval, nullptr);
  while (paused_ && !app.terminated() && hwnd_) app.handleMessage();
  app.bringToFront();
}

bool TInstallerForm::cancelRequested() { return processState().cancelRequested; }

void TInstallerForm::reportInstallError(ErrorCode code, const std::string& fileName) {
  ::reportInstallError(code, fileName);
}

int TInstallerForm::showMessage(const MessageSpec& message) { return ::showMessage(message); }
