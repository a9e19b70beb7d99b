// Folders and files: the installer's folders, its numbered work folders,
// robust deletion (attributes reset, retries), forced copies, folder paths,
// shell special folders and file version resources.  Paths are UTF-8.
#pragma once

#include <string>

#include "base/error_codes.h"

// Fills processState().folders in this order: windowsFolder, systemFolder,
// sysnativeFolder, commonFolder, exeFolder, then workFolder through
// createWorkFolder("ZNK").  errNoFolder when the system, common or local
// application data folder is unknown (the installer cannot work without
// them); otherwise the work folder's result.
ErrorCode initInstallerFolders(const std::string& installerPath);

// Creates the first free numbered folder <local appdata>\Brindlefax\<prefix>N
// (N = 1..1000; existing files and folders are skipped) and sets folder to
// it with a trailing backslash.  The base and the work folder are created
// with the private access list of system/access_win32.h.  On Windows NT the
// folder is created and opened in one call inside the opened base, and both
// stay held, without sharing deletion, until deleteWorkFolder: neither they
// nor any folder above them can be renamed, replaced or linked elsewhere
// while the installer uses them, and `folder` is the path as the system
// resolved it.  0, the system's code of the last failed creation,
// errNoFolder without a local application data folder, errLinkedWorkFolder
// when the base is a junction or link, or errNoWorkFolder when every
// candidate exists.
ErrorCode createWorkFolder(const std::string& prefix, std::string& folder);
// The same under a given base folder (created, one level, when missing).
ErrorCode createWorkFolderIn(const std::string& baseFolder, const std::string& prefix,
                             std::string& folder);
// Lets go of a work folder held since its creation and deletes it as
// deleteFolderTree does (any other folder too).
ErrorCode deleteWorkFolder(const std::string& folder);

// The system's Windows folder (GetSystemWindowsDirectory), GetSystemDirectory,
// and the Windows folder + Sysnative: each with a trailing backslash, or
// empty when the value is unknown.  None of them comes from the
// environment, which the user sets for elevated programs too.
std::string getWindowsFolder();
std::string getSystemFolder();
std::string getSysnativeFolder();
// A shell special folder (CSIDL_*) as the shell reports it (no trailing
// backslash but for a drive root); empty when it cannot be determined.
// Where the shell does not know the folder, SHFolder.dll's SHGetFolderPath
// is asked for the application data (roaming, local, common) and documents
// folders.
std::string getSpecialFolder(int csidl);

// The folder text with a trailing backslash (empty stays empty).
std::string withTrailingBackslash(const std::string& folder);

// A file (not a folder) of that name exists / a folder of that name exists
// (a trailing backslash is allowed).
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);

// Deletes a file, clearing read-only, hidden and system when the first try
// fails.  0 when it is gone (or never existed), errFileBusy otherwise.
ErrorCode deleteFileForced(const std::string& path);
// deleteFileForced up to `attempts` times without pause.  The final failure
// is errSaverNotReplaceable for a ".scr" file (any letter case), errFileBusy
// otherwise; attempts <= 0 gives errUnspecified.
ErrorCode deleteFileWithRetries(const std::string& path, int attempts);
// Deletes folder (a backslash is appended when missing) and everything in
// it, by handle (system/tree_removal_win32.h).  0 (also when it does not
// exist), the code of the first file that could not be deleted, or
// errUnspecified when the folder stays.  Links (junctions, symbolic links)
// are removed, never followed.
ErrorCode deleteFolderTree(const std::string& folder);

// From the file's version resource a.b.c.d: major = a, revision = c.  Both
// stay unchanged when the file has no readable version resource.
void myGetFileVersion(const std::string& path, int& major, int& revision);

// Copies src to dst, clearing read-only, hidden and system on both first and
// creating dst's folder when missing.  With failIfExists an existing dst is
// not replaced.  False on failure, GetLastError then holds the reason.
bool copyFile(const std::string& src, const std::string& dst, bool failIfExists);
// Creates path and every missing folder above it; failures are ignored.
// Stops at the first existing ancestor, or at the top ("C:", "\\server").
void createFolderPath(const std::string& path);
