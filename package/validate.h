// Consistency checks the installer runs on a package before it writes
// anything.  The format has no checksum, so a damaged or hostile package is
// only recognised by offsets, sizes and names that cannot be right.  Both
// checks return errOk, errCorruptPackage (inconsistent offsets, sizes,
// counts or types) or errBadName (a stored name that could leave its folder
// or alias a device); the data file check also passes through the error code
// of its read callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "base/error_codes.h"
#include "base/package_format.h"

// Checks every present item from 1 to 10 (item 0 is never read):
// - startOffset at or after the stub and header (kPackageDataStart), the last
//   byte before installerFileSize (pass the size without a valid integrity
//   trailer, if the caller wants to exclude it);
// - a stored size of at least 1.  A stored size of exactly 0
//   (endOffset = startOffset - 1) is accepted here: the reader reports it as
//   errOutOfMemory (-7) when the item is extracted, as the format requires;
//   a negative stored size is corrupt;
// - an itemType with a destination, and a non-negative expandedSize for a
//   compressed item; for the start-up items 1 to 5 a destination in the
//   work folder (itemType 4, 7, or 3 with a Flash Player installer name);
// - the name actually written (after the preview renaming of item 3 and the
//   itemType renaming rules) is a safe file name (errBadName otherwise).
// With hasFlashAXInstaller set, flashAXInstallerVersion must be 0 or 1.
// Absent items are not reported: the reader asks for them in its own order
// and fails with errItemAbsent (-531) there.
ErrorCode validatePackageHeader(const PackageHeader& header, std::uint64_t installerFileSize);

// Reads n bytes at an absolute offset of the data file into dst; returns
// errOk, or the error to pass on (a short read is an error of the callback's
// choosing).
using DataFileReadAt = std::function<ErrorCode(std::uint64_t offset, std::uint8_t* dst, std::size_t n)>;

// Checks the data file's table before any member is written:
// - fileCount 0..1010, `entries` holding exactly fileCount entries (entry 1
//   first), the record and entries inside the file;
// - entries with an empty name are skipped (the installer skips them);
//   every other name is NUL-terminated in its field and a safe relative path
//   (errBadName otherwise);
// - copy entries (kind 3, and entry 1 when mainFileSource is 3) have no
//   member to check;
// - for every other entry the MemberHeader lies after the table and inside
//   the file, and with a nonzero fileSize: fileSize >= 0 and the data
//   (storedSize bytes when imploded, else fileSize) lies inside the file.
//   An imploded member with storedSize 0 is left to the reader (-7), as for
//   items.
ErrorCode validateDataFileTable(const SaverDataRecord& record, std::span<const DataFileEntry> entries,
                                std::uint64_t dataFileSize, const DataFileReadAt& readAt);

// The same checks on a whole data file in memory (parsing its table first),
// its entry names read as text in `codePage`.
ErrorCode validateDataFile(std::span<const std::uint8_t> dataFile, unsigned codePage = 1252);
