// Records of the installer package and of the screen saver data file.
//
// The installer file is the stub (exactly INSTALLER_SIZE_IN_BYTES2 bytes)
// followed by a 3152-byte PackageHeader and the items' bytes, each at the
// absolute file offsets its PackageItem gives.  Item 8 is the screen saver
// data file: a 1240-byte SaverDataRecord, fileCount DataFileEntry records of
// 264 bytes, and members (a 44-byte MemberHeader followed by the data) at the
// entries' absolute offsets.  All integers are little-endian two's
// complement, all text is 8-bit ANSI in the installing machine's code page
// (the parsers keep the bytes; package/package_text.h converts the names to
// the program's UTF-8).  Neither format has a magic number, a
// version or a checksum; see package/validate.h for the consistency checks
// and package/trailer.h for the optional integrity trailer.
//
// Every record is parsed and serialized field by field; nothing is overlaid
// on file bytes.  Reserved fields are not read and are written as zeros.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The stub's exact size: the header starts at this file offset.
constexpr std::uint32_t INSTALLER_SIZE_IN_BYTES2 = 691200;

constexpr std::size_t kPackageHeaderSize = 3152;
constexpr std::size_t kSaverNameSize = 64;
constexpr std::size_t kItemTableOffset = 72;     // of item 0 in the header
constexpr std::size_t kPackageItemSize = 280;
constexpr int kPackageItemCount = 11;            // items 0 to 10
constexpr std::size_t kItemNameFieldSize = 256;  // length byte + up to 255 chars
constexpr std::size_t kMaxItemNameLength = 255;
// First file offset an item may occupy: the stub and header come before it.
constexpr std::uint64_t kPackageDataStart = std::uint64_t{INSTALLER_SIZE_IN_BYTES2} + kPackageHeaderSize;

// Field offsets inside a PackageItem record (for tests that damage bytes).
constexpr std::size_t kItemStartOffsetField = 256;
constexpr std::size_t kItemEndOffsetField = 260;
constexpr std::size_t kItemTypeField = 264;
constexpr std::size_t kItemIsCompressedField = 268;
constexpr std::size_t kItemExpandedSizeField = 276;

// Offset of item `index`'s record inside the header.
constexpr std::size_t itemRecordOffset(int index) {
  return kItemTableOffset + kPackageItemSize * static_cast<std::size_t>(index);
}

constexpr std::size_t kSaverDataRecordSize = 1240;
constexpr std::size_t kFileCountField = 212;
constexpr std::size_t kMainFileSourceField = 1204;
constexpr std::size_t kDataFileEntrySize = 264;
constexpr std::size_t kEntryNameField = 2;
constexpr std::size_t kEntryNameFieldSize = 256;
constexpr std::size_t kEntryDataOffsetField = 260;
constexpr std::size_t kMemberHeaderSize = 44;
constexpr std::size_t kMemberFileSizeField = 8;
constexpr std::size_t kMemberStoredSizeField = 12;
constexpr std::size_t kMemberIsImplodedField = 16;
constexpr std::int32_t kMaxFileCount = 1010;

// mainFileSource value: entry 1 is the preview movie of item 3, copied from
// the work folder's "installer.swf" rather than stored in the data file.
constexpr std::int32_t kMainFileFromPreview = 3;
// entryKind value: the entry is a copy of another file, not a stored member.
constexpr std::uint8_t kEntryKindCopy = 3;

// Size of the data file's fixed part for a given entry count.
constexpr std::uint64_t dataFileTableSize(std::int32_t fileCount) {
  return kSaverDataRecordSize + kDataFileEntrySize * static_cast<std::uint64_t>(fileCount);
}

struct PackageItem {
  std::string fileName;  // 0..255 chars; empty means the item is absent
  std::int32_t startOffset = 0;  // absolute offset of the first byte
  std::int32_t endOffset = 0;    // absolute offset of the LAST byte (inclusive)
  std::int32_t itemType = 0;     // destination, see itemDestination()
  std::uint8_t isCompressed = 0; // nonzero: stored bytes are imploded
  std::int32_t expandedSize = 0; // checked only when isCompressed

  bool present() const { return !fileName.empty(); }
  friend bool operator==(const PackageItem&, const PackageItem&) = default;
};

struct PackageHeader {
  std::uint8_t installerMode = 0;
  std::uint8_t hasLicense = 0;
  std::uint8_t hasReadMe = 0;
  std::uint8_t hasFlashAXInstaller = 0;
  std::uint8_t flashAXInstallerVersion = 0;
  std::uint8_t offerControlPanel = 0;
  std::string saverName;  // up to the first NUL of the 64-byte field
  std::array<PackageItem, kPackageItemCount> items;

  friend bool operator==(const PackageHeader&, const PackageHeader&) = default;
};

// The saver's settings record.  Only fileCount and mainFileSource mean
// anything to the installer; the record is otherwise opaque and is copied
// byte for byte into "saver.dat", so the bytes are the record.
struct SaverDataRecord {
  std::array<std::uint8_t, kSaverDataRecordSize> bytes{};

  std::int32_t fileCount() const;
  std::int32_t mainFileSource() const;
  void setFileCount(std::int32_t value);
  void setMainFileSource(std::int32_t value);
  friend bool operator==(const SaverDataRecord&, const SaverDataRecord&) = default;
};

struct DataFileEntry {
  std::uint8_t entryKind = 0;   // kEntryKindCopy, or anything else for a member
  std::string entryName;        // up to the first NUL (at most 256 chars)
  bool nameTerminated = true;   // false: no NUL within the 256-byte field
  std::int32_t dataOffset = 0;  // absolute offset of the MemberHeader

  friend bool operator==(const DataFileEntry&, const DataFileEntry&) = default;
};

struct MemberHeader {
  std::int32_t fileSize = 0;    // 0: nothing is written for the entry
  std::int32_t storedSize = 0;  // data bytes when imploded
  std::int32_t isImploded = 0;  // nonzero: storedSize bytes of implode data

  friend bool operator==(const MemberHeader&, const MemberHeader&) = default;
};

// Parsers take at least the record's size and ignore anything after it;
// a shorter span gives std::nullopt.
std::optional<PackageHeader> parsePackageHeader(std::span<const std::uint8_t> bytes);
std::optional<PackageItem> parsePackageItem(std::span<const std::uint8_t> bytes);
std::optional<SaverDataRecord> parseSaverDataRecord(std::span<const std::uint8_t> bytes);
std::optional<DataFileEntry> parseDataFileEntry(std::span<const std::uint8_t> bytes);
std::optional<MemberHeader> parseMemberHeader(std::span<const std::uint8_t> bytes);

// Serializers give exactly the record's size.  Text longer than its field is
// cut: an item name to 255 chars, the saver name to 64, an entry name to 256
// (a 256-char entry name therefore has no terminating NUL, as in a damaged
// data file).
std::vector<std::uint8_t> serializePackageHeader(const PackageHeader& header);
std::vector<std::uint8_t> serializePackageItem(const PackageItem& item);
std::vector<std::uint8_t> serializeSaverDataRecord(const SaverDataRecord& record);
std::vector<std::uint8_t> serializeDataFileEntry(const DataFileEntry& entry);
std::vector<std::uint8_t> serializeMemberHeader(const MemberHeader& header);

// The record and fileCount entries at the start of a data file (entries[0] is
// entry 1).  Fails when fileCount is outside 0..kMaxFileCount or the bytes end
// before the last entry.
bool parseDataFileTable(std::span<const std::uint8_t> bytes, SaverDataRecord& record,
                        std::vector<DataFileEntry>& entries);

// endOffset - startOffset + 1 in 64 bits, so hostile offsets cannot overflow;
// may be zero or negative for a damaged item.
std::int64_t itemStoredSize(const PackageItem& item);

// The saverName field's text: up to the first NUL, at most 64 chars.
std::string saverNameFromField(std::span<const std::uint8_t> field);

// Replaces the extension of the file name part of `name` (from its last dot
// after the last '\\', '/' or ':') by `ext`, or appends `ext` when there is
// none.  `ext` includes its dot.
std::string changeFileExtension(std::string_view name, std::string_view ext);

// The name under which item 3 (the preview) is extracted: installerMode 1
// gives extension ".BMP", 8 gives ".jpg", other modes keep the name.  The
// result is at most 255 chars; when it would be longer, the base name is cut
// so that the new extension survives.
std::string previewFileName(std::uint8_t installerMode, std::string_view fileName);

// Folders an item can land in, each ending with a backslash.
struct InstallFolders {
  std::string workFolder;
  std::string saverFolder;
  std::string systemFolder;
  std::string sysnativeFolder;
  std::string commonFolder;
};

struct ItemDestination {
  bool hasDestination = false;  // false for item types outside the format
  std::string path;             // folder + file name
  std::string sysnativePath;    // non-empty: also copy the file here afterwards
};

// Where an item of `itemType` named `fileName` is written:
//   1, 5, 6, 10  saverFolder + name
//   2            systemFolder + name; on 64-bit Windows also sysnativeFolder + name
//   3            workFolder + name for the two Flash Player installer names
//                (exact, case-sensitive), else commonFolder + name with ".dll"
//   4            workFolder + name; "impborl.dat" (exact) becomes "impborl.dll"
//   7            workFolder + name
//   other        no destination
ItemDestination itemDestination(std::int32_t itemType, std::string_view fileName,
                                const InstallFolders& folders, bool osIs64Bit);

// The file name part of itemDestination's path (what validation checks).
std::optional<std::string> itemDestinationName(std::int32_t itemType, std::string_view fileName);
