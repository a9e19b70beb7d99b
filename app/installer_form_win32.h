// TInstallerForm: the window the user works with.  A preview area on top
// (still image or Flash movie), an optional license below it, and a bottom
// strip with the status line, the progress bar and the buttons.  It owns its
// controls, the movie panel and the saver's files, implements the reporting
// interface of the installing steps, and runs the start-up sequence when it
// is created and the install sequence when Install is pressed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "base/install_ui.h"
#include "system/handles_win32.h"

class PreparingWindow;
class TFlashPanel;
class PreviewImage;
class SaverFiles;

// Control ids, for the window's own use and for tests that drive it.
enum InstallerControlId : int {
  idContentPanel = 1001,
  idBmpPanel,
  idMoviePanel,
  idLicenseBox,
  idButtonPanel,
  idLabFile,
  idLabCopying,
  idInstallButn,
  idProgressBar,
  idInstallBtn,
  idDoneBtn,
  idCancelBtn,
};

// Creates the installer window; its creation runs the start-up sequence.
void createInstallerForm(PreparingWindow& preparing);
// Destroys it (its windows and COM objects); before COM and the common
// controls are shut down.
void destroyInstallerForm();

class TInstallerForm : public InstallUi {
public:
  static constexpr const char* kClassName = "TInstallerForm";
  // Layout numbers of the design.
  static constexpr int kWindowWidth = 490;
  static constexpr int kPreviewBottom = 273;  // contentPanel top 1 + height 272
  static constexpr int kButtonPanelHeight = 63;
  static constexpr int kLicenseHeight = 103;
  static constexpr int kInstallWidth = 80, kInstallWidthLicense = 115;

  explicit TInstallerForm(PreparingWindow& preparing);
  ~TInstallerForm() override;

  HWND handle() const { return hwnd_; }
  bool create();

  // InstallUi
  void showStatus(const std::string& text) override;
  void stepProgress() override;
  bool cancelRequested() override;
  void reportInstallError(ErrorCode code, const std::string& fileName) override;
  int showMessage(const MessageSpec& message) override;

  void pauseWithMessages();

  // Start-up sequence (runs once, from create()).
  void initializeInstaller();

  // Install sequence and completion.
  ErrorCode installScreenSaver();
  ErrorCode installWithoutWindow();
  void runQuietInstall();
  void promptOpenControlPanel();
  void installBtnClick();
  void cancelBtnClick();
  void doneBtnClick();
  void declineBtnClick();
  bool FormCloseQuery();
  void FormClose();
  // Closing either window (installer or preparing): refused during an
  // install, noted during the start-up sequence (which then ends), otherwise
  // the normal close.
  void requestClose();

  int runMode() const { return runMode_; }

private:
  static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK panelProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handleMessage(UINT msg, WPARAM wp, LPARAM lp);

  void createControls();
  // Arrangements and layout.
  void arrangeWithoutLicense();
  bool arrangeWithLicense(const std::string& licensePath);
  void placeButtons();
  void layoutInstallerForm();
  void fitClientHeight();
  void setClientHeight(int height);
  void FormResize();
  void FormShow();
  void showPreview();

  // Install states of the bottom strip.
  void setupInstallerFormForInstallation();
  void setupFormForInstallationComplete(ErrorCode code);
  void resetFormAfterAbort();
  void removeInstalledFiles();
  ErrorCode runInstallSteps();
  void openReadMe();
  // Closes the window and requests termination.
  void closeAndTerminate();

  void setProgress(int position);

  PreparingWindow& preparing_;
  HWND hwnd_ = nullptr;
  HWND contentPanel_ = nullptr, buttonPanel_ = nullptr;
  HWND license_ = nullptr, labFile_ = nullptr, labCopying_ = nullptr, installButn_ = nullptr;
  HWND progressBar_ = nullptr, installBtn_ = nullptr, doneBtn_ = nullptr, cancelBtn_ = nullptr;
  std::unique_ptr<PreviewImage> bmpPanel_;
  std::unique_ptr<TFlashPanel> moviePanel_;
  std::unique_ptr<SaverFiles> saverFiles_;
  UniqueModule richEdit_;

  unsigned char runMode_ = 0;
  bool hasLicense_ = false;
  bool hasReadMe_ = false;
  bool flashUpdateNeeded_ = false;
  int requiredFlashMajor_ = 0;
  int requiredFlashRevision_ = 0;
  bool sizeable_ = false;
  int minWidth_ = 0, maxWidth_ = 0, minHeight_ = 0;
  bool paused_ = false;
  bool closing_ = false;
  bool startingUp_ = false;
  bool closeRequested_ = false;
};
