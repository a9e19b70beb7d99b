// Names in a package are bytes in an ANSI code page: the installer reads
// them with the code page of the machine it runs on, the packager writes
// them in the code page the author chose.  Inside both programs they are
// UTF-8, and the name rules (base/names.h) are applied to that text, so that
// the second byte of a double-byte character (which may be 0x5C, the
// backslash) never counts as a separator.
#pragma once

#include <span>
#include <string>

#include "base/package_format.h"

// Converts the saver name and every item's file name from the code page to
// UTF-8.  False when one of them is not valid text in that code page (a
// double-byte name that ends in a lead byte, for one); the header is then
// left partly converted and must not be used.
bool decodeHeaderNames(PackageHeader& header, unsigned codePage);
// The same for the names of data file entries.
bool decodeEntryNames(std::span<DataFileEntry> entries, unsigned codePage);

// The reverse, for writing: false when a name holds a character the code
// page lacks or its bytes would not fit its field (64 bytes for the saver
// name, 255 for the others); `field` then names the first such field ("saverName",
// "items[3].fileName", "entries[2].entryName").
bool encodeHeaderNames(PackageHeader& header, unsigned codePage, std::string& field);
bool encodeEntryNames(std::span<DataFileEntry> entries, unsigned codePage, std::string& field);
