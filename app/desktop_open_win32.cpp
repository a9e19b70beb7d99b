#include "app/desktop_open_win32.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <memory>
#include <utility>

#include "base/application_win32.h"
#include "flash/com_win32.h"
#include "system/handles_win32.h"

namespace {

bool askDesktopShell(const std::string& path) {
  // The desktop window's view, reached from the shell's window list:
  // ShellWindows -> desktop -> browser -> view -> its Shell.Application.
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              windows.putVoid())))
    return false;
  Variant location, root;
  location.get()->vt = VT_I4;
  location.get()->lVal = CSIDL_DESKTOP;
  long desktopWindow = 0;
  ComPtr<IDispatch> desktop;
  if (windows->FindWindowSW(location.get(), root.get(), SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                            desktop.put()) != S_OK ||
      !desktop)
    return false;
  ComPtr<IServiceProvider> services;
  if (FAILED(desktop.as(IID_IServiceProvider, services))) return false;
  ComPtr<IShellBrowser> browser;
  if (FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.putVoid()))) return false;
  ComPtr<IShellView> view;
  if (FAILED(browser->QueryActiveShellView(view.put())) || !view) return false;
  ComPtr<IDispatch> background;
  if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.putVoid()))) return false;
  ComPtr<IShellFolderViewDual> folderView;
  if (FAILED(background.as(IID_IShellFolderViewDual, folderView))) return false;
  ComPtr<IDispatch> application;
  if (FAILED(folderView->get_Application(application.put())) || !application) return false;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(application.as(IID_IShellDispatch2, shell))) return false;

  Bstr file(path);
  if (!file.get()) return false;
  Variant arguments, folder, operation, show;
  show.get()->vt = VT_I4;
  show.get()->lVal = SW_SHOWNORMAL;
  return SUCCEEDED(shell->ShellExecute(file.get(), *arguments.get(), *folder.get(), *operation.get(),
                                       *show.get()));
}

// What the worker thread and its caller share.  Both hold it: the caller
// may give up on a worker that is still waiting.
struct LimitedCall {
  std::function<bool()> work;
  bool result = false;
};

DWORD WINAPI runLimitedCall(LPVOID param) {
  std::unique_ptr<std::shared_ptr<LimitedCall>> held(static_cast<std::shared_ptr<LimitedCall>*>(param));
  LimitedCall& call = **held;
  // An apartment of the thread's own: the calls to another process are
  // made and waited for here, not on the window's thread.
  OleSession ole;
  if (ole.ok()) call.result = call.work();
  return 0;
}

}  // namespace

CallOutcome callWithTimeLimit(std::function<bool()> work, DWORD limitMs) {
  auto call = std::make_shared<LimitedCall>();
  call->work = std::move(work);
  auto handedOver = std::make_unique<std::shared_ptr<LimitedCall>>(call);
  DWORD id = 0;
  UniqueKernelHandle thread(CreateThread(nullptr, 0, runLimitedCall, handedOver.get(), 0, &id));
  if (!thread) return CallOutcome::Failed;
  handedOver.release();  // the thread's now
  // Windows and other programs' messages are served meanwhile, as during a
  // call made on this thread.
  DWORD start = GetTickCount();
  for (;;) {
    DWORD spent = GetTickCount() - start;
    if (spent >= limitMs) return CallOutcome::NoAnswer;
    HANDLE handle = thread.get();
    // Once the application ends its messages are no longer taken, and a
    // wait that wakes for them would spin.
    DWORD woke = Application::instance().terminated()
                     ? WaitForSingleObject(handle, limitMs - spent)
                     : MsgWaitForMultipleObjects(1, &handle, FALSE, limitMs - spent, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) return call->result ? CallOutcome::Succeeded : CallOutcome::Failed;
    if (woke != WAIT_OBJECT_0 + 1) return CallOutcome::NoAnswer;
    Application::instance().processMessages();
  }
}

CallOutcome openThroughDesktopShell(const std::string& path) {
  return callWithTimeLimit([path] { return askDesktopShell(path); }, kDesktopShellLimitMs);
}
