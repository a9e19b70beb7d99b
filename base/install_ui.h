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
