// The saver's own folder: finding an earlier installation, asking before it
// is replaced, removing it, creating the folders, and copying the license
// and read-me documents into it.
#pragma once

#include <string>

#include "base/error_codes.h"

class InstallUi;

// folder + name + ".scr" is a file, or folder + name + "\" a folder.  False
// for an empty folder or a name that is not a valid saver name (it could
// otherwise name the folder itself or a path outside it).
bool saverExistsIn(const std::string& folder, const std::string& name);

// Deletes folder + name + ".scr" and the tree folder + name + "\", each when
// it exists.  0 or the first failure's code; does nothing for the names
// saverExistsIn refuses.
ErrorCode removeSaverFrom(const std::string& folder, const std::string& name);

// Checks an existing folder the elevated installer relies on (the common
// folder, a saver's folder), looked at without following a link:
// errLinkedSaverFolder when it is a junction or link; a plain folder whose
// owner or list would let ordinary users change it gets the shared list and
// Administrators as its owner (errUnsafeFolder when that does not take).
// 0 when it is missing or fine.
ErrorCode secureExistingFolder(const std::string& path);
// The common folder: made (shared list) when create is set and it is
// missing, checked by secureExistingFolder, then held open without sharing
// deletion until releaseCommonFolder, so it cannot be renamed or replaced.
// 0 also when it is missing and create is not set.
ErrorCode holdCommonFolder(const std::string& folder, bool create);
void releaseCommonFolder();

// Creates folder and folder + name + "\" (one level each, with the shared
// list) where missing.  0, or the system's code of the failed creation (183,
// already exists, counts as success).
ErrorCode createSaverFolders(const std::string& folder, const std::string& name);

// Before the saver's files are written: with an earlier installation in
// folder or in the Windows folder and ask set (in the Windows folder that is
// name + ".scr", or a folder name + "\" holding "saver.dat", both owned by
// administrators; any other folder there is the system's or a user's and is
// never asked about or touched), asks name + question (OK and Cancel)
// through ui; anything but OK gives errUserAbort and nothing is touched.
// Then holds the common folder and checks an earlier saver folder
// (secureExistingFolder), begins the install journal, sets the earlier
// copies aside (in the Windows folder only the program and a folder of
// ours, what cannot be moved there stays; a saver folder that cannot be
// moved gives errFileBusy), records the new saver folder and returns
// createSaverFolders(folder, name).  An empty question uses the string
// table's overwrite question.
ErrorCode prepareSaverFolder(const std::string& folder, const std::string& name, bool ask,
                             const std::string& question, InstallUi& ui);

// Copies workFolder + licenseName and then workFolder + readMeName into
// saverFolder, replacing what is there; an empty name skips that document.
// A missing source gives errFileMissing, a failed copy the system's code;
// the read-me's failure replaces the license's, its success does not.
ErrorCode copyLicenseAndReadMe(const std::string& workFolder, const std::string& saverFolder,
                               const std::string& licenseName, const std::string& readMeName);
