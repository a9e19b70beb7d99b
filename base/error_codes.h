// Error codes of the installer.
//
// Every step returns a signed 32-bit code: 0 is success, negative values are
// the installer's own codes below, positive values are operating-system or
// file input/output error numbers passed through unchanged (2 file not found,
// 3 path not found, 5 access denied, 32 sharing violation, 100 read past end
// of file, ...).  Only 5 has a message of its own among the positive codes.
#pragma once

#include <cstdint>

using ErrorCode = std::int32_t;

constexpr ErrorCode errOk = 0;
constexpr ErrorCode errUnspecified = -1;          // failed without a more precise code
constexpr ErrorCode errOutOfMemory = -7;          // no buffer, or the shell lacked resources
constexpr ErrorCode errNoSuchMember = -12;        // member index beyond the data file's count
constexpr ErrorCode errSizeMismatch = -13;        // expanded size differs from the recorded one
constexpr ErrorCode errDataFileNotOpen = -15;     // the saver data file is not open
constexpr ErrorCode errFileMissing = -16;         // a file that must exist is not there
constexpr ErrorCode errShortRead = -30;           // fewer bytes than the item's stored size
constexpr ErrorCode errShortHeader = -31;         // fewer than 3152 header bytes
constexpr ErrorCode errFileBusy = -32;            // deleting or replacing a file failed
constexpr ErrorCode errNoDecompressor = -35;      // the decompression library is unavailable
constexpr ErrorCode errSaverNotReplaceable = -38; // the ".scr" file cannot be replaced
constexpr ErrorCode errFlashInstallerMissing = -401;
constexpr ErrorCode errFlashPlayerMissing = -402;
constexpr ErrorCode errFlashControlFailed = -403;
constexpr ErrorCode errNotSwfFile = -404;
constexpr ErrorCode errSwfVersionTooHigh = -405;
constexpr ErrorCode errSwfVersionTooLow = -406;
constexpr ErrorCode errFlashControlRelease = -409;
constexpr ErrorCode errFlashPlayerTooOld = -410;
constexpr ErrorCode errFlashInstallFailed = -416;
constexpr ErrorCode errUserAbort = -454;          // the user declined the overwrite question
constexpr ErrorCode errWindowsNTUnsupported = -455;
constexpr ErrorCode errTempCopyFailed = -523;     // copying the installer to "temp.dat" failed
constexpr ErrorCode errItemAbsent = -531;         // an asked-for item has an empty name
constexpr ErrorCode errCopyFailed = -532;         // copying an expanded file failed
constexpr ErrorCode errUninstallRegisterFailed = -2201;
constexpr ErrorCode errUninstallRemoveFailed = -2202;

// Codes of our own for faults the package format itself does not name.  A
// package that fails a consistency check is reported as a corrupted installer
// file (showStartupError's general text) with one of these.
constexpr ErrorCode errCorruptPackage = -540;     // inconsistent header, item table or data file
constexpr ErrorCode errBadName = -541;            // a stored name would leave its destination folder
constexpr ErrorCode errChecksumMismatch = -542;   // the integrity trailer does not match
constexpr ErrorCode errNoFolder = -543;           // a folder the installer needs is unknown
constexpr ErrorCode errNoWorkFolder = -544;       // all work-folder candidates are taken
constexpr ErrorCode errLinkedWorkFolder = -545;   // the work folders' base is a junction or link
constexpr ErrorCode errLinkedSaverFolder = -546;  // the common folder, the saver's or one in it is a junction or link
constexpr ErrorCode errUnsafeFolder = -547;       // the common or the saver's folder cannot be made administrators-only
