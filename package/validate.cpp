// Package and data file consistency checks.
#include "package/validate.h"

#include "package/package_text.h"

#include "base/names.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kLastStartupItem = 5;

bool landsInWorkFolder(std::int32_t itemType, const std::string& name) {
  const InstallFolders probe{"W\\", "S\\", "Y\\", "N\\", "C\\"};
  ItemDestination d = itemDestination(itemType, name, probe, false);
  return d.hasDestination && d.path.rfind(probe.workFolder, 0) == 0;
}

ErrorCode checkItem(const PackageHeader& header, int index, std::uint64_t fileSize) {
  const PackageItem& item = header.items[static_cast<std::size_t>(index)];
  if (item.startOffset < 0 || static_cast<std::uint64_t>(item.startOffset) < kPackageDataStart)
    return errCorruptPackage;
  std::int64_t size = itemStoredSize(item);
  if (size < 0) return errCorruptPackage;
  // Size 0 ends just before startOffset; startOffset itself may then be the
  // end of the file.
  if (static_cast<std::uint64_t>(item.startOffset) + static_cast<std::uint64_t>(size) > fileSize)
    return errCorruptPackage;
  if (item.isCompressed && item.expandedSize < 0) return errCorruptPackage;

  std::string name = item.fileName;
  if (index == 3) name = previewFileName(header.installerMode, name);
  std::optional<std::string> written = itemDestinationName(item.itemType, name);
  if (!written) return errCorruptPackage;
  if (!isSafeItemFileName(item.fileName) || !isSafeItemFileName(name) || !isSafeItemFileName(*written))
    return errBadName;
  // Items 1 to 5 are written at start-up, before anything is installed, and
  // only the work folder is removed after a start-up that fails: anywhere
  // else (the system folder, the common folder) they would stay behind.
  if (index <= kLastStartupItem && !landsInWorkFolder(item.itemType, name)) return errCorruptPackage;
  return errOk;
}

ErrorCode checkMember(std::int32_t dataOffset, std::uint64_t tableEnd, std::uint64_t fileSize,
                      const DataFileReadAt& readAt) {
  if (dataOffset < 0) return errCorruptPackage;
  std::uint64_t at = static_cast<std::uint64_t>(dataOffset);
  if (at < tableEnd || at + kMemberHeaderSize > fileSize) return errCorruptPackage;
  std::uint8_t raw[kMemberHeaderSize];
  if (ErrorCode rc = readAt(at, raw, sizeof raw)) return rc;
  MemberHeader m = *parseMemberHeader(raw);
  if (m.fileSize == 0) return errOk;  // nothing is written, nothing is read
  if (m.fileSize < 0) return errCorruptPackage;
  std::int32_t dataSize = m.isImploded ? m.storedSize : m.fileSize;
  if (dataSize < 0) return errCorruptPackage;
  if (at + kMemberHeaderSize + static_cast<std::uint64_t>(dataSize) > fileSize) return errCorruptPackage;
  return errOk;
}

}  // namespace

ErrorCode validatePackageHeader(const PackageHeader& header, std::uint64_t installerFileSize) {
  if (header.hasFlashAXInstaller && header.flashAXInstallerVersion > 1) return errCorruptPackage;
  for (int index = 1; index < kPackageItemCount; ++index) {
    if (!header.items[static_cast<std::size_t>(index)].present()) continue;
    if (ErrorCode rc = checkItem(header, index, installerFileSize)) return rc;
  }
  return errOk;
}

ErrorCode validateDataFileTable(const SaverDataRecord& record, std::span<const DataFileEntry> entries,
                                std::uint64_t dataFileSize, const DataFileReadAt& readAt) {
  std::int32_t count = record.fileCount();
  if (count < 0 || count > kMaxFileCount) return errCorruptPackage;
  if (entries.size() != static_cast<std::size_t>(count)) return errCorruptPackage;
  std::uint64_t tableEnd = dataFileTableSize(count);
  if (tableEnd > dataFileSize) return errCorruptPackage;

  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DataFileEntry& e = entries[i];
    if (e.entryName.empty()) continue;
    if (!e.nameTerminated || !isSafeEntryName(e.entryName)) return errBadName;
    bool copy = e.entryKind == kEntryKindCopy || (i == 0 && record.mainFileSource() == kMainFileFromPreview);
    if (copy) continue;
    if (ErrorCode rc = checkMember(e.dataOffset, tableEnd, dataFileSize, readAt)) return rc;
  }
  return errOk;
}

ErrorCode validateDataFile(std::span<const std::uint8_t> dataFile, unsigned codePage) {
  SaverDataRecord record;
  std::vector<DataFileEntry> entries;
  if (!parseDataFileTable(dataFile, record, entries)) return errCorruptPackage;
  if (!decodeEntryNames(entries, codePage)) return errBadName;
  auto readAt = [dataFile](std::uint64_t offset, std::uint8_t* dst, std::size_t n) -> ErrorCode {
    if (offset > dataFile.size() || n > dataFile.size() - offset) return errCorruptPackage;
    std::copy(dataFile.begin() + static_cast<std::ptrdiff_t>(offset),
              dataFile.begin() + static_cast<std::ptrdiff_t>(offset + n), dst);
    return errOk;
  };
  return validateDataFileTable(record, entries, dataFile.size(), readAt);
}
