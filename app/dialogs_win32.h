// Modal message dialogs: the three kinds (error, information, confirmation)
// with their titles and icons, and the four button rows.
#pragma once

#include <string>

#include "base/dialog_types.h"
#include "base/error_codes.h"
#include "base/error_text_win32.h"

// Shows the dialog and returns the id of the button that closed it
// (IDABORT, IDOK, IDCANCEL, IDYES, IDNO); 0 when nothing was shown.
int showMessageDialog(DialogKind kind, DialogButtons buttons, const std::string& text);
int showMessage(const MessageSpec& spec);

// A plain message box titled with the application title (no icon, OK).
void showPlainMessage(const std::string& text);


// The central error reporter: an error dialog with the single Abort button.
void reportInstallError(ErrorCode code, const std::string& fileName);
// The last word of a failed start-up.
void showStartupError(ErrorCode code);
