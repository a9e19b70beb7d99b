// The install sequence and the window's remaining handlers: Install, Cancel,
// Close, closing the window, and the offer to open the control panel.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <stdexcept>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "app/desktop_open_win32.h"
#include "app/installer_form_win32.h"
#include "base/messages.h"
#include "app/preparing_window_win32.h"
#include "app/ui_common_win32.h"
#include "base/process_state.h"
#include "base/text.h"
#include "flash/flash_panel_win32.h"
#include "package/extraction_win32.h"
#include "package/package_reader_win32.h"
#include "system/access_win32.h"
#include "system/desktop_win32.h"
#include "system/folders_win32.h"
#include "system/install_journal_win32.h"
#include "system/launcher_win32.h"
#include "system/os_version.h"
#include "system/saver_folder_win32.h"
#include "system/uninstall_win32.h"
#include "system/win_text_win32.h"

namespace {

bool goingOn(const ProcessState& s, ErrorCode result) { return result == errOk && !s.cancelRequested; }

// Tests name an install step in this variable to make it raise, proving that
// a failure escaping a step still ends as a failed install.  Raising is all
// it can do; nothing is skipped or written differently.
void raiseIfTestAsks(const char* step) {
  char wanted[64] = {};
  DWORD n = GetEnvironmentVariableA("BRINDLEFAX_TEST_RAISE_IN", wanted, sizeof wanted);
  if (n > 0 && n < sizeof wanted && std::strcmp(wanted, step) == 0) throw std::runtime_error(step);
}

// `isInstalling` for the length of one install, also when it ends by an
// exception: left set, the window could never be closed again.
class InstallingFlag {
public:
  InstallingFlag() : saved_(processState().isInstalling) { processState().isInstalling = true; }
  ~InstallingFlag() { processState().isInstalling = saved_; }
  InstallingFlag(const InstallingFlag&) = delete;
  InstallingFlag& operator=(const InstallingFlag&) = delete;

private:
  bool saved_;
};

}  // namespace

void TInstallerForm::installBtnClick() {
  ProcessState& s = processState();
  if (s.isInstalling) return;
  bool closeAfterwards = true;
  {
    InstallingFlag installing;
    s.cancelRequested = false;
    ErrorCode result = installScreenSaver();
    if (!s.cancelRequested && result == errOk) promptOpenControlPanel();
    if (result != errOk) closeAfterwards = false;
  }
  if (closeAfterwards) closeAndTerminate();
}

ErrorCode TInstallerForm::installScreenSaver() {
  ProcessState& s = processState();
  BusyCursor cursor;
  ErrorCode result = errOk;
  try {
    result = runInstallSteps();
  } catch (const std::exception&) {
    // A step raised instead of returning a code: a failed install like any
    // other, cleaned up below.
    result = errUnspecified;
    if (saverFiles_) saverFiles_->releaseDataFile();
  }
  deleteFileForced(s.paths.dataFilePath);
  // Every step done and nobody asked to stop: the install is committed (its
  // files are on the disk, the earlier installation's backups go).  A commit
  // that cannot be recorded fails the install like any step.
  if (result == errOk && !s.cancelRequested) result = installJournal().commit();
  if (result != errOk && result != errUserAbort) tracedStep("removeInstalledFiles", [this] { removeInstalledFiles(); });
  if (!s.cancelRequested) {
    setupFormForInstallationComplete(result);
  } else {
    showStatus(loadText(IDS_STATUS_ABORTED_CLEANUP));
    if (result != errUserAbort) tracedStep("removeInstalledFiles", [this] { removeInstalledFiles(); });
    resetFormAfterAbort();
  }
  traceEvent("install end", {std::to_string(result)});
  return result;
}

ErrorCode TInstallerForm::runInstallSteps() {
  ProcessState& s = processState();
  ErrorCode result = errOk;
  setupInstallerFormForInstallation();
  if (!s.cancelRequested) tracedStep("closeDisplayProperties", [] { closeDisplayProperties(); });
  if (!s.cancelRequested) {
    result = tracedStep("prepareSaverFolder", [this, &s] {
      return prepareSaverFolder(s.folders.commonFolder, s.paths.saverName, runMode_ != 4,
                                loadText(IDS_OVERWRITE_QUESTION), *this);
    });
    if (result == errUserAbort) s.cancelRequested = true;
    InvalidateRect(preparing_.handle(), nullptr, TRUE);
    UpdateWindow(preparing_.handle());
  }
  saverFiles_ = std::make_unique<SaverFiles>(*this);
  SaverFiles& files = *saverFiles_;
  if (goingOn(s, result))
    result = tracedStep("extractInstallItems",
                        [&] { return files.extractInstallItems(s.paths.tempDatPath, hasReadMe_); });
  if (goingOn(s, result)) result = tracedStep("readSaverRecord", [&files] { return files.readSaverRecord(); });
  if (goingOn(s, result)) raiseIfTestAsks("expandDataFile");
  if (goingOn(s, result)) result = tracedStep("expandDataFile", [&files] { return files.expandDataFile(); });
  if (goingOn(s, result)) result = tracedStep("writeSaverDataFile", [&files] { return files.writeSaverDataFile(); });
  if (goingOn(s, result)) notifyLauncher(std::string("makeActiveSaver-") + s.header.items[6].fileName + '\0');
  if (goingOn(s, result))
    result = tracedStep("copyLicenseAndReadMe", [this, &s] {
      return copyLicenseAndReadMe(s.folders.workFolder, s.paths.saverFolder,
                                  hasLicense_ ? s.header.items[4].fileName : std::string(),
                                  hasReadMe_ ? s.header.items[5].fileName : std::string());
    });
  if (goingOn(s, result)) tracedStep("openReadMe", [this] { openReadMe(); });
  if (goingOn(s, result)) {
    raiseIfTestAsks("registerUninstall");
    tracedStep("registerUninstall", [&s] { return registerUninstall(s.paths.saverName); });
    result = errOk;  // the registration's outcome does not count
  }
  return result;
}

void TInstallerForm::setupInstallerFormForInstallation() {
  if (runMode_ == 4) return;
  ShowWindow(labFile_, SW_HIDE);
  EnableWindow(installBtn_, FALSE);
  ShowWindow(cancelBtn_, SW_SHOW);
  showStatus(loadText(IDS_STATUS_INSTALLING));
}

void TInstallerForm::setupFormForInstallationComplete(ErrorCode code) {
  if (runMode_ == 4) return;
  if (code == errOk) setProgress(static_cast<int>(SendMessageA(progressBar_, PBM_GETRANGE, FALSE, 0)));
  pauseWithMessages();
  pauseWithMessages();
  setProgress(0);
  showStatus(installStatusText(code));
  if (code == errOk) {
    ShowWindow(doneBtn_, SW_SHOW);
    SetFocus(doneBtn_);
    ShowWindow(installBtn_, SW_HIDE);
    ShowWindow(cancelBtn_, SW_HIDE);
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EnableWindow(installBtn_, FALSE);
  } else if (code == 5 || code == errSaverNotReplaceable) {
    reportInstallError(code, std::to_string(code));
  }
}

void TInstallerForm::resetFormAfterAbort() {
  if (runMode_ == 4) return;
  setProgress(0);
  showStatus("");
  EnableWindow(cancelBtn_, TRUE);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  EnableWindow(installBtn_, TRUE);
}

void TInstallerForm::removeInstalledFiles() {
  // The install journal holds every change this run made, and only those:
  // undoing it removes what the run wrote (the saver folder, the program in
  // the system folders, the uninstall entry) and brings back what it set
  // aside.  Nothing is written before the journal is begun, and without it
  // nothing is this run's.  What cannot be restored now is reported, and
  // the journal stays for the next run.
  installJournal().rollback(this);
}

void TInstallerForm::openReadMe() {
  const ProcessState& s = processState();
  if (!s.header.hasReadMe) return;
  if (s.unattended) {  // nobody is there to read it; as SYSTEM there is no desktop at all
    traceEvent("text", {"read-me not opened: unattended run"});
    return;
  }
  std::string path = s.paths.saverFolder + s.header.items[5].fileName;
  // As the desktop's user where the system offers that, not with our
  // (elevated) token.  A shell that does not answer may still open it: it
  // is not opened a second time.  Elevated, it is never opened with our
  // token: a program of the user's choosing would then run as
  // administrator (and the user can stop the desktop shell at will).
  if (openThroughDesktopShell(path) != CallOutcome::Failed || processIsElevated()) return;
  winShellExecute(Application::instance().mainWindow(), path, nullptr, SW_SHOWNORMAL);
}

void TInstallerForm::promptOpenControlPanel() {
  if (!processState().header.offerControlPanel) return;
  Application::instance().bringToFront();
  if (showMessage(controlPanelQuestionMessage()) != kButtonYes) return;
  showStatus(loadText(IDS_STATUS_OPENING_CONTROL_PANEL));
  Application::instance().processMessages();
  notifyLauncher("openScreenSaverControlPanel");
}

ErrorCode TInstallerForm::installWithoutWindow() {
  unsigned char savedMode = runMode_;
  runMode_ = 4;  // no window updates, no overwrite question
  preparing_.setCaption(winGetWindowText(hwnd_));
  preparing_.setMessage(loadText(IDS_STATUS_INSTALLING));
  ErrorCode result;
  {
    InstallingFlag installing;
    result = installScreenSaver();
  }
  preparing_.setMessage(preparingOutcomeText(result));
  runMode_ = savedMode;
  return result;
}

void TInstallerForm::runQuietInstall() {
  InstallingFlag installing;
  Application::instance().setExitCode(installScreenSaver());
}

void TInstallerForm::cancelBtnClick() {
  if (processState().isInstalling) {
    processState().cancelRequested = true;
    showStatus(loadText(IDS_STATUS_ABORTED_CLEANUP));
    setProgress(0);
    UpdateWindow(progressBar_);
    pauseWithMessages();
    pauseWithMessages();
    return;
  }
  closeAndTerminate();
}

void TInstallerForm::doneBtnClick() { closeAndTerminate(); }

void TInstallerForm::declineBtnClick() { closeAndTerminate(); }

bool TInstallerForm::FormCloseQuery() { return !processState().isInstalling; }

void TInstallerForm::requestClose() {
  if (!FormCloseQuery()) return;  // refused during an install
  if (startingUp_) {
    // The start-up sequence notices it after its current step and ends.
    closeRequested_ = true;
    return;
  }
  closeAndTerminate();
}

void TInstallerForm::closeAndTerminate() {
  if (closing_) return;
  closing_ = true;
  FormClose();
}

void TInstallerForm::FormClose() {
  const ProcessState& s = processState();
  if (runMode_ != 4 && moviePanel_) moviePanel_->closeMovie();
  // The folder of "temp.dat", with everything extracted into it; the held
  // package handle is closed first so that "temp.dat" can go too.
  releasePackage();
  if (!s.folders.workFolder.empty()) deleteWorkFolder(s.folders.workFolder);
  // Freeing the window frees the movie panel, which removes its own folder.
  moviePanel_.reset();
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    KillTimer(hwnd_, 1);
    paused_ = false;
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  Application::instance().setMainWindow(preparing_.handle());
  postLauncherClosed();
  Application::instance().terminate();
}
