// The installer's entry point: the preparing window, the installer window
// (whose creation runs the start-up sequence), then the message loop.
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "app/installer_form_win32.h"
#include "app/preparing_window_win32.h"
#include "base/text.h"
#include "resources/version.h"
#include "system/command_line.h"
#include "system/handles_win32.h"
#include "system/install_log_win32.h"
#include "system/system_library_win32.h"
#include "system/win_text_win32.h"

namespace {

std::string executableFileName() {
  std::string full = winModuleFileName();
  size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  restrictLibrarySearch();
  // The log, when asked for, sees the whole run: from here to the exit code.
  InstallLog log(logPathParameter(commandLineParameters(winCommandLine().c_str())));
  traceEvent("start", {INSTALLER_VERSION_TEXT, winCommandLine()});
  auto finish = [](int exitCode) {
    traceEvent("exit", {std::to_string(exitCode)});
    return exitCode;
  };
  // The progress bar's class comes from comctl32, taken from the system folder.
  UniqueModule commonControls(loadSystemLibrary("comctl32.dll"));
  if (auto init = procAddress<decltype(&::InitCommonControls)>(commonControls.get(), "InitCommonControls"))
    init();
  bool oleReady = SUCCEEDED(OleInitialize(nullptr));
  ScopeExit oleDone([oleReady] {
    if (oleReady) OleUninitialize();
  });
  Application& app = Application::instance();
  app.setHinstance(instance);
  app.setTitle(loadText(IDS_PREPARING_INSTALLATION_TITLE));

  PreparingWindow preparing;
  if (!preparing.create(instance)) return finish(1);
  app.setMainWindow(preparing.handle());
  preparing.setCaption(executableFileName());
  preparing.setMessage(loadText(IDS_PREPARING_INSTALLATION_TITLE));
  app.processMessages();

  createInstallerForm(preparing);
  app.run();
  // The windows and COM objects go before COM and the common controls.
  destroyInstallerForm();
  return finish(app.exitCode());
}
