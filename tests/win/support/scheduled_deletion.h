// Files a program asked Windows to delete at its next start: on Windows NT
// pairs of "\??\<path>" and an empty target in the Session Manager's
// PendingFileRenameOperations, on Windows 9x "NUL=<short path>" lines in
// the [rename] section of WININIT.INI.
#pragma once

#include <string>

namespace e2e {

// Whether the file (its long path) is scheduled for deletion.
bool scheduledForDeletion(const std::string& path);
// Drops the tests' own requests, for files whose path ends with `ending`
// (and every "NUL=" line on 9x), so that the prefix's next start does not
// delete a later test's file.
void forgetScheduledDeletions(const std::string& ending);

}  // namespace e2e
