// The installer's entry point: the preparing window, the installer window
// (whose creation runs the start-up sequence), then the message loop.
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>

#include <cstdlib>

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

// With the test trace channel open and SAVER_INSTALLER_TRACE_FILES set, every
// file operation goes to the channel too: a test rebuilds from them the disk
// as a power failure after any of them would leave it, or fails one (its
// acknowledgement is then the system's error code, as ERROR_DISK_FULL).
constexpr char kTraceFilesVariable[] = "SAVER_INSTALLER_TRACE_FILES";

bool traceFilesForTests = false;

DWORD traceFileOperation(const FileOperation& op) {
  static const char* const kinds[] = {"create", "write",         "flush", "rename",    "delete",
                                      "mkdir",  "rmdir",         "copy",  "attributes"};
  // The log's own writes are file operations too.
  static bool inside = false;
  if (inside) return 0;
  inside = true;
  ScopeExit leave([] { inside = false; });
  const char* kind = kinds[static_cast<int>(op.kind)];
  if (traceFilesForTests) {
    char answer = traceEventAnswered(
        "file", {kind, op.path, op.other, std::to_string(op.offset),
                 std::string(static_cast<const char*>(op.data), op.data ? op.size : 0), std::to_string(op.attributes)});
    return answer == 'k' || answer == 0 ? 0 : static_cast<unsigned char>(answer);
  }
  // For the log: every file and folder made, renamed, copied or deleted.
  if (op.kind != FileOperation::Kind::Flush && op.kind != FileOperation::Kind::Attributes)
    traceEvent("file", {kind, op.path, op.other});
  return 0;
}

std::string executableFileName() {
  std::string full = winModuleFileName();
  size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

}  // namespace

// The run time's default handler for an exception nothing caught prints
// its demangled type to a console this program does not have, and takes
// the demangler (some 45 KB of the stub) with it.  None is expected to get
// this far; if one does, the process ends as the default would end it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  restrictLibrarySearch();
  // The log, when asked for, sees the whole run: from here to the exit code.
  InstallLog log(logPathParameter(commandLineParameters(winCommandLine().c_str())));
  traceEvent("start", {INSTALLER_VERSION_TEXT, winCommandLine()});
  auto finish = [](int exitCode) {
    traceEvent("exit", {std::to_string(exitCode)});
    return exitCode;
  };
  // The file operations go to the log as what was written where, and with
  // SAVER_INSTALLER_TRACE_FILES to the test channel in full.
  traceFilesForTests = GetEnvironmentVariableA(kTraceFilesVariable, nullptr, 0) > 0 && traceOn();
  if (traceFilesForTests || log.open()) setFileOperationObserver(traceFileOperation, traceFilesForTests);
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
