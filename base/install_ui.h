// The narrow interface through which the installing steps talk to the user:
// status text, progress, the cancel flag, error reports and questions.  The
// installer window implements it; quiet runs and tests implement it too.
#pragma once

#include <string>

#include "base/dialog_types.h"
#include "base/error_codes.h"

// Button results, numerically those of the Windows dialogs.
constexpr int kButtonOk = 1;
constexpr int kButtonCancel = 2;
constexpr int kButtonAbort = 3;
constexpr int kButtonYes = 6;
constexpr int kButtonNo = 7;

// The button an unattended run ("/qn") takes instead of showing a dialog:
// the only one of a single-button dialog; No to a question (the control
// panel is not opened); OK to the overwrite question, which replaces the
// earlier installation as a quiet run does.
constexpr int unattendedAnswer(DialogButtons buttons) {
  switch (buttons) {
    case DialogButtons::Abort: return kButtonAbort;
    case DialogButtons::YesNo: return kButtonNo;
    default: return kButtonOk;
  }
}

// A button's name, for the log.
constexpr const char* buttonName(int button) {
  switch (button) {
    case kButtonOk: return "OK";
    case kButtonCancel: return "Cancel";
    case kButtonAbort: return "Abort";
    case kButtonYes: return "Yes";
    case kButtonNo: return "No";
    default: return "none";
  }
}

class InstallUi {
public:
  virtual ~InstallUi() = default;
  virtual void showStatus(const std::string& text) = 0;
  // Advances the progress bar one step and pauses briefly (handling messages).
  virtual void stepProgress() = 0;
  virtual bool cancelRequested() = 0;
  // reportInstallError: an error dialog for a failure on a named file.
  virtual void reportInstallError(ErrorCode code, const std::string& fileName) = 0;
  // Shows a dialog and returns the button that closed it (0 if none shown).
  virtual int showMessage(const MessageSpec& message) = 0;
};
