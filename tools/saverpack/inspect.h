// Reading an installer back: the header, every item, the data file's record,
// entries and members, the trailer and the signature, with every size and every expansion
// checked (compressed items and imploded members are decoded and their
// lengths compared with the recorded ones).  Memory use does not depend on
// the installer's size: items and members are read in blocks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/package_format.h"
#include "package/trailer.h"
#include "tools/saverpack/support.h"

namespace saverpack {

struct InspectedMember {
  DataFileEntry entry;
  bool copy = false;                   // kind 3, or entry 1 with mainFileSource 3
  std::optional<MemberHeader> header;  // for stored members whose header is readable
  std::optional<std::uint64_t> expandedSize;  // what an imploded member decoded to
};

struct InspectReport {
  std::uint64_t fileSize = 0;
  TrailerCheck trailer = TrailerCheck::Absent;
  bool isSigned = false;                 // a certificate table ends the file
  std::string signer;                    // its signer's name, if it can be read
  bool signatureCoversPackage = false;   // every item and the trailer lie in the signed range
  std::optional<PackageHeader> header;
  std::optional<SaverDataRecord> record;
  std::vector<InspectedMember> members;
  std::vector<std::string> lines;     // the printed description
  std::vector<std::string> problems;  // one sentence each; empty: consistent
};

// Never throws; a file that cannot be read is a problem of the report.
// Stored names are read as text in `codePage` (which becomes the packager's
// name code page).
InspectReport inspectInstaller(const std::filesystem::path& file, unsigned codePage = kDefaultNameCodePage);

}  // namespace saverpack
