#include "app/desktop_open_win32.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "flash/com_win32.h"

bool openThroughDesktopShell(const std::string& path) {
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
