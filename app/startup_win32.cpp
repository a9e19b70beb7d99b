// initializeInstaller: the installer window's start-up sequence.  In one
// pass it prepares the folders, copies the installer and reads its package,
// reads the command line, extracts what the header asks for, settles the
// Flash Player, sets up the window, and then leaves the window ready, installs
// at once (quiet mode, or a movie that cannot be played), or reports a failure.
#include <windows.h>
#include <commctrl.h>

#include <optional>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "app/dialogs_win32.h"
#include "app/installer_form_win32.h"
#include "base/messages.h"
#include "app/preparing_window_win32.h"
#include "app/preview_image_win32.h"
#include "app/ui_common_win32.h"
#include "base/process_state.h"
#include "base/text.h"
#include "flash/flash_panel_win32.h"
#include "flash/flash_version.h"
#include "flash/player_detect_win32.h"
#include "package/package_reader_win32.h"
#include "system/access_win32.h"
#include "system/install_journal_win32.h"
#include "system/command_line.h"
#include "system/desktop_win32.h"
#include "system/folders_win32.h"
#include "system/launcher_win32.h"
#include "system/os_version_win32.h"
#include "system/saver_folder_win32.h"
#include "system/saver_naming.h"
#include "system/win_text_win32.h"

namespace {

constexpr int kFlashProbeAttempts = 20;

std::string withoutTrailingBackslash(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

ErrorCode extractFlashActiveXInstaller(InstallUi& ui) {
  return extractItemFromPackage(2, processState().folders.workFolder, ui);
}

}  // namespace

void TInstallerForm::initializeInstaller() {
  ProcessState& s = processState();
  Application& app = Application::instance();
  // 1-2: hourglass, reset.
  std::optional<BusyCursor> hourglass(std::in_place);
  int installedMajor = 0, installedRevision = 0;
  bool installed = false;
  s.isInstalling = false;
  s.cancelRequested = false;
  flashUpdateNeeded_ = hasLicense_ = hasReadMe_ = false;
  ErrorCode errorCode = errOk;
  bool quiet = false, quietSwitchGiven = false, installedWithoutWindow = false;
  s.launcherWindow = 0;
  s.operatingSystemCode = GetOperatingSystem();
  const std::vector<std::string> params = commandLineParameters(winCommandLine().c_str());
  // Known before the first step: any of them may end in a dialog.
  s.unattended = hasUnattendedSwitch(params);
  // Dialogs and pauses of the sequence handle messages: a window closed
  // meanwhile ends the sequence after its current step.
  auto stopIfClosed = [&] {
    if (errorCode == errOk && closeRequested_) errorCode = errUserAbort;
  };

  // 3-8: folders, package, command line.
  errorCode = tracedStep("initInstallerFolders", [] { return initInstallerFolders(winModuleFileName()); });
  const InstallerFolders& f = s.folders;
  traceEvent("folders",
             {f.windowsFolder, f.systemFolder, f.sysnativeFolder, f.commonFolder, f.exeFolder, f.workFolder});
  if (errorCode == errOk) traceEvent("work folder", {s.folders.workFolder});
  removeStartupShortcut(this);
  if (errorCode == errOk) initPackagePaths();
  if (errorCode == errOk)
    errorCode = tracedStep("copyInstallerToTempFile", [this] { return copyInstallerToTempFile(*this); });
  if (errorCode == errOk) errorCode = tracedStep("readInstallerHeader", [this] { return readInstallerHeader(*this); });
  if (errorCode == errOk) {
    notifyLauncher("read installer heard file");
    runMode_ = s.header.installerMode;
    // "/qn" is "/q" with no dialog: the same window, reports and exit code.
    for (const std::string& param : params) {
      traceEvent("text", {"command line parameter: " + param});
      if (!isQuietSwitch(param) && !isUnattendedSwitch(param)) continue;
      runMode_ = 4;
      notifyLauncher("quiet installer");
      quietSwitchGiven = true;
    }
    quiet = runMode_ == 4;
    if (quiet)
      preparing_.moveOffScreen();
    else
      preparing_.centerOnScreen();
  }
  stopIfClosed();
  if (errorCode == errOk) initSaverPaths();
  // The common folder is checked (and held) before anything in it is read,
  // and a saver folder that is a link is refused before anything happens.
  if (errorCode == errOk) errorCode = holdCommonFolder(s.folders.commonFolder, false);
  if (errorCode == errOk && isReparsePoint(withoutTrailingBackslash(s.paths.saverFolder)))
    errorCode = errLinkedSaverFolder;
  // An install of this saver that was killed or cut off by a power failure
  // is finished or undone before anything else touches the saver.
  if (errorCode == errOk)
    tracedStep("recoverInterruptedInstall", [this, &s] {
      return recoverInterruptedInstall(InstallJournal::pathFor(s.folders.commonFolder, s.paths.saverName),
                                       journalScopeFor(s.paths.saverName), this);
    });
  // 9: the read-me.
  if (errorCode == errOk) {
    hasReadMe_ = s.header.hasReadMe != 0;
    if (hasReadMe_) errorCode = tracedStep("extractReadMe", [this] { return extractReadMe(*this); });
  }
  stopIfClosed();
  // 10-15: the Flash Player.
  if (errorCode == errOk) {
    getFlashPlayerVersion(kFlashProbeAttempts, installed, installedMajor, installedRevision);
    if (installed)
      traceEvent("flash player", {std::to_string(installedMajor), std::to_string(installedRevision)});
    else
      traceEvent("flash player");
  }
  requiredFlashMajor_ = requiredFlashRevision_ = 0;
  if (errorCode == errOk && s.header.hasFlashAXInstaller &&
      !requiredFlashVersion(s.header.flashAXInstallerVersion, requiredFlashMajor_, requiredFlashRevision_))
    errorCode = errCorruptPackage;  // an installer version the tables do not know
  if (errorCode == errOk)
    errorCode = tracedStep("verifyFlashAXInstallerCanRunOnThisMachine", [this, &s] {
      return verifyFlashAXInstallerCanRunOnThisMachine(s.operatingSystemCode, requiredFlashMajor_);
    });
  if (errorCode == errOk && s.header.hasFlashAXInstaller)
    errorCode = tracedStep("extractFlashActiveXInstaller", [this] { return extractFlashActiveXInstaller(*this); });
  if (errorCode == errOk) {
    FlashDecision d = decideFlashUpdate(installed, installedMajor, installedRevision, s.header.hasFlashAXInstaller != 0,
                                        requiredFlashMajor_, requiredFlashRevision_);
    if (d == FlashDecision::TellUserToDownload)
      errorCode = errFlashPlayerMissing;
    else
      flashUpdateNeeded_ = d != FlashDecision::None;
  }
  if (errorCode == errOk) {
    // The player installer runs elevated: it must still be the package's own
    // file (held open since it was written, so it stays so while it starts).
    if (flashUpdateNeeded_) errorCode = verifyWorkFile(2, s.folders.workFolder + s.header.items[2].fileName);
    // Unattended, the player installer is not shown again for a user to complete.
    if (flashUpdateNeeded_ && errorCode == errOk)
      errorCode = tracedStep("handleFlashActiveXControlUpdate", [&s] {
        return handleFlashActiveXControlUpdate(s.header.items[2].fileName, !s.unattended);
      });
    if (errorCode == errFlashPlayerMissing) {
      errorCode = errFlashInstallFailed;
      SetWindowPos(hwnd_, nullptr, -3000, -3000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  stopIfClosed();
  // 16-17: caption, license, buttons.
  if (errorCode == errOk && !quiet) {
    std::string caption = getInstallerCaption(s.paths.saverName);
    winSetWindowText(hwnd_, caption);
    app.setTitle(caption);
  }
  if (errorCode == errOk && !quiet) {
    hasLicense_ = s.header.hasLicense != 0;
    if (hasLicense_) {
      errorCode = tracedStep("extractLicense", [this] { return extractLicense(*this); });
      if (errorCode == errOk && !arrangeWithLicense(s.folders.workFolder + s.header.items[4].fileName))
        errorCode = errCorruptPackage;  // a license that cannot be read at all
    } else {
      arrangeWithoutLicense();
    }
    placeButtons();
    winSetWindowText(cancelBtn_, loadText(IDS_CANCEL_BUTTON));
    winSetWindowText(doneBtn_, loadText(IDS_CLOSE_BUTTON));
  }
  stopIfClosed();
  // 18-19: the preview.
  if (errorCode == errOk && s.header.installerMode != 4)
    errorCode = tracedStep("extractPreview", [this] { return extractPreview(*this); });
  if (errorCode == errOk && !quiet) {
    std::string preview = s.folders.workFolder + s.header.items[3].fileName;
    if (runMode_ == 1 || runMode_ == 8) {
      ShowWindow(moviePanel_->handle(), SW_HIDE);
      std::string why;
      if (!bmpPanel_->load(preview, why)) showMessage(corruptFileMessage());
      ShowWindow(bmpPanel_->handle(), SW_SHOW);
      BringWindowToTop(bmpPanel_->handle());
    } else if (runMode_ == 2 || runMode_ == 3) {
      ShowWindow(moviePanel_->handle(), SW_SHOW);
      errorCode = tracedStep("playMovie", [this, &preview] { return moviePanel_->playMovie(preview); });
      if (errorCode != errOk && closeRequested_) errorCode = errUserAbort;  // closed: no install
      if (errorCode == errOk) {
        app.bringToFront();
        if (GetActiveWindow()) moviePanel_->focusMovie();
      } else if (errorCode != errUserAbort) {
        errorCode = installWithoutWindow();
        installedWithoutWindow = true;
      }
    }
  }
  stopIfClosed();
  // 20-21: show, or install quietly.
  if (errorCode == errOk && !quiet && !installedWithoutWindow) {
    preparing_.moveOffScreen();
    SendMessageA(progressBar_, PBM_SETRANGE, 0, MAKELPARAM(0, 10));
    layoutInstallerForm();
    RECT r;
    GetWindowRect(hwnd_, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (errorCode == errOk && quiet) tracedStep("runQuietInstall", [this] { runQuietInstall(); });
  hourglass.reset();
  if (!quiet && !installedWithoutWindow) stopIfClosed();

  // 23: the end state.
  if (errorCode == errUserAbort && closeRequested_) {
    // Closed by the user before anything was installed: the normal close,
    // and for a quiet run a code that does not claim an install.
    if (quiet) app.setExitCode(errUserAbort);
    closeAndTerminate();
  } else if (errorCode != errOk) {
    // A failed start-up is a failure for whoever started the installer too.
    app.setExitCode(errorCode);
    showStartupError(errorCode);
    closeAndTerminate();
  } else if (installedWithoutWindow) {
    promptOpenControlPanel();
    closeAndTerminate();
  } else if (quiet) {
    if (s.header.offerControlPanel && !quietSwitchGiven) notifyLauncher("openScreenSaverControlPanel");
    closeAndTerminate();
  }
}
