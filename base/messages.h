// Texts of the installer's messages, composed from string-table pieces.
//
// Every function here only builds text (and, for the *Message functions,
// the dialog kind and buttons); showing the dialog is the caller's job.
// "system text" parameters are the operating system's message for an error
// number, as the caller looked it up (empty when there is none).
#pragma once

#include <cstdint>
#include <string>

#include "base/dialog_types.h"
#include "base/error_codes.h"

// reportInstallError: the text for a failure on a named file.  fileName is
// the file concerned (for 5 and -38 the caller passes the code's decimal
// text); systemText is used only for -523.
std::string installErrorText(ErrorCode code, const std::string& fileName,
                             const std::string& systemText);
// The same as an error dialog with the single Abort button.
MessageSpec installErrorMessage(ErrorCode code, const std::string& fileName,
                                const std::string& systemText);

// showStartupError: the last word of a failed start-up.  -454 gives a spec
// with show == false (the user already chose to stop).
MessageSpec startupErrorMessage(ErrorCode code);

// Status line of the installer window after an install (-454 never gets
// here: a declined install takes the abort path).
std::string installStatusText(ErrorCode code);
// Preparing window's text after an install without the installer window.
std::string preparingOutcomeText(ErrorCode code);

// Title of a dialog kind: "Error", "Information", "Confirm"; empty for None.
std::string dialogTitle(DialogKind kind);

// The overwrite question: saverName + " screen saver already exists.
// Overwrite?" (confirmation, OK and Cancel).
MessageSpec overwriteQuestionMessage(const std::string& saverName);
// The control panel offer after a successful install (confirmation, Yes/No).
MessageSpec controlPanelQuestionMessage();

// Messages of the saver data file (information or error, single Abort).
MessageSpec dataFileInUseMessage();
MessageSpec dataFileOpenErrorMessage(const std::string& path, ErrorCode code);
MessageSpec dataFileReadErrorMessage(const std::string& systemText);
// Closing a file failed.  The path is put after "File: " (the bare label
// would name no file at all), then a line break and the system text.
MessageSpec closeFileErrorMessage(const std::string& path, const std::string& systemText);

// Expanding imploded data failed (error, single Abort).
MessageSpec zipErrorMessage(const std::string& systemText);
// A preview picture could not be loaded (error, single Abort).
MessageSpec corruptFileMessage();

// Text of the plain message box shown when the CRC-32 table fails its
// self-check: the computed value as 8 upper-case hexadecimal digits.
std::string crcTableMessageText(std::uint32_t tableCrc);
