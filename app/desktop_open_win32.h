// Opening a document as the desktop's own user.  The installer runs
// elevated; a document it opened itself would be shown by a program holding
// the administrator's token, left to a user who may not be one.  The
// desktop's shell (explorer) runs as that user, so the document is handed
// to it to open.
#pragma once

#include <windows.h>

#include <string>

// Asks the desktop's shell to open path with its default action in a
// normal window.  False when the system offers no way to do so (older
// shells, no desktop shell running); the caller then opens it itself.
bool openThroughDesktopShell(const std::string& path);
