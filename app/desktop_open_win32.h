// Opening a document as the desktop's own user.  The installer runs
// elevated; a document it opened itself would be shown by a program holding
// the administrator's token, left to a user who may not be one.  The
// desktop's shell (explorer) runs as that user, so the document is handed
// to it to open.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

enum class CallOutcome { Succeeded, Failed, NoAnswer };

// A desktop shell that has not done it in this time will not be waited for:
// a hung shell must not hold an installer whose work is done.
constexpr DWORD kDesktopShellLimitMs = 10000;

// Runs work on a thread of its own (with its own COM apartment) and waits
// for it up to limitMs while serving this thread's messages.  NoAnswer when
// it has not returned by then; it is then left to end by itself.
CallOutcome callWithTimeLimit(std::function<bool()> work, DWORD limitMs);

// Asks the desktop's shell to open path with its default action in a
// normal window.  Failed when the system offers no way to do so (older
// shells, no desktop shell running): the caller then opens it itself.
// NoAnswer when the shell did not answer in time: it may still open it, so
// the caller does not.
CallOutcome openThroughDesktopShell(const std::string& path);
