// The package reader: copies the installer to its private "temp.dat",
// reads the package header from that copy and writes single items to their
// destinations.  Every read goes to "temp.dat", never to the running file.
//
// A package is untrusted input: the header is checked as a whole before
// anything is written (offsets inside the file, sizes, item types, names
// that stay inside their folders), and items are streamed in blocks so that
// memory use does not grow with their size.
#pragma once

#include <string>
#include <vector>

#include "base/error_codes.h"

class FileStream;
class InstallUi;

// exePath := the running installer, tempDatPath := workFolder + "temp.dat".
void initPackagePaths();
// Makes tempDatPath a fresh copy of exePath and checks the packager's
// integrity trailer on the blocks written (an installer without one is
// accepted).  The copy stays open as the held package (below).
ErrorCode copyInstallerToTempFile(InstallUi& ui);

// Every later read of the package goes through one handle on "temp.dat",
// opened by the copy and held until releasePackage(): others may read the
// file but not write, rename or delete it, so what the integrity check saw
// is what the elevated install writes out.  When no copy was made, the
// first use opens tempDatPath for reading (sharing reads only).
ErrorCode heldPackage(FileStream*& package);
// Closes the held handle, and those of the work files (below); before the
// work folder is deleted.
void releasePackage();

// Items written into the work folder are held open for reading from their
// writing on (others may read them but not replace or delete them), so what
// is run, parsed or copied onward from there is the package's own file.
// Compares such a file with item `index` of the package, expanded when it
// is imploded: errOk when equal, errChecksumMismatch when not.
ErrorCode verifyWorkFile(int index, const std::string& path);
// Reads and checks the header, keeps it in the process state, and writes
// item 1 (the implode library) before anything else.
ErrorCode readInstallerHeader(InstallUi& ui);
// saverName, saverFolder and dataFilePath from the header.
void initSaverPaths();

// Writes item `index` of the header to its destination (see itemDestination).
// Outside the saver and work folders the destination goes through the
// install journal first (set aside when there is one, then recorded).
ErrorCode extractItem(FileStream& package, int index, bool showProgress, InstallUi& ui);
// Opens the package and extracts item `index` without progress; an
// input/output error opening it is reported with reportName.
ErrorCode extractItemFromPackage(int index, const std::string& reportName, InstallUi& ui);

ErrorCode extractReadMe(InstallUi& ui);   // item 5
ErrorCode extractLicense(InstallUi& ui);  // item 4
// Item 3, renamed first by installerMode (".BMP" for 1, ".jpg" for 8).
ErrorCode extractPreview(InstallUi& ui);
