// Package and data file records: parsing, serialization and the naming rules
// that turn an item's fields into its destination.
#include "base/package_format.h"

#include "base/byte_reader.h"
#include "base/code_page.h"

#include <algorithm>

namespace {

constexpr std::string_view kFlashInstallerName10 = "install_flash_player_10_active_x.exe";
constexpr std::string_view kFlashInstallerName = "install_flash_player_active_x.exe";
// The implode library travels under a neutral name and is renamed on the way
// out, so that the package never holds a file that looks like a loadable DLL.
constexpr std::string_view kImplodeLibraryStoredName = "impborl.dat";
constexpr std::string_view kImplodeLibraryName = "impborl.dll";

// Case-sensitive on purpose: any other spelling is installed as a library.
bool isFlashInstallerName(std::string_view name) {
  return name == kFlashInstallerName10 || name == kFlashInstallerName;
}

PackageItem readItem(ByteReader& r) {
  PackageItem item;
  std::size_t start = r.position();
  std::uint8_t nameLength = r.u8();
  std::span<const std::uint8_t> name = r.bytes(nameLength);
  item.fileName.assign(name.begin(), name.end());
  r.seek(start + kItemStartOffsetField);  // the bytes after the name are not read
  item.startOffset = r.i32();
  item.endOffset = r.i32();
  item.itemType = r.i32();
  item.isCompressed = r.u8();
  r.skip(kItemExpandedSizeField - kItemIsCompressedField - 1);
  item.expandedSize = r.i32();
  return item;
}

void writeItem(ByteWriter& w, const PackageItem& item) {
  std::size_t n = item.fileName.size() < kMaxItemNameLength ? item.fileName.size() : kMaxItemNameLength;
  w.u8(static_cast<std::uint8_t>(n));
  w.fixedText(std::string_view(item.fileName).substr(0, n), kItemNameFieldSize - 1);
  w.i32(item.startOffset);
  w.i32(item.endOffset);
  w.i32(item.itemType);
  w.u8(item.isCompressed);
  w.zeros(kItemExpandedSizeField - kItemIsCompressedField - 1);
  w.i32(item.expandedSize);
}

}  // namespace

std::int32_t SaverDataRecord::fileCount() const {
  return static_cast<std::int32_t>(loadLe32(bytes.data() + kFileCountField));
}

std::int32_t SaverDataRecord::mainFileSource() const {
  return static_cast<std::int32_t>(loadLe32(bytes.data() + kMainFileSourceField));
}

void SaverDataRecord::setFileCount(std::int32_t value) {
  storeLe32(bytes.data() + kFileCountField, static_cast<std::uint32_t>(value));
}

void SaverDataRecord::setMainFileSource(std::int32_t value) {
  storeLe32(bytes.data() + kMainFileSourceField, static_cast<std::uint32_t>(value));
}

std::optional<PackageHeader> parsePackageHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kPackageHeaderSize) return std::nullopt;
  ByteReader r(bytes.first(kPackageHeaderSize));
  PackageHeader h;
  h.installerMode = r.u8();
  h.hasLicense = r.u8();
  h.hasReadMe = r.u8();
  h.hasFlashAXInstaller = r.u8();
  h.flashAXInstallerVersion = r.u8();
  h.offerControlPanel = r.u8();
  h.saverName = saverNameFromField(r.bytes(kSaverNameSize));
  r.seek(kItemTableOffset);
  for (PackageItem& item : h.items) item = readItem(r);
  if (r.failed()) return std::nullopt;  // cannot happen with the size checked above
  return h;
}

std::optional<PackageItem> parsePackageItem(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kPackageItemSize) return std::nullopt;
  ByteReader r(bytes.first(kPackageItemSize));
  PackageItem item = readItem(r);
  if (r.failed()) return std::nullopt;
  return item;
}

std::optional<SaverDataRecord> parseSaverDataRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSaverDataRecordSize) return std::nullopt;
  SaverDataRecord record;
  std::copy(bytes.begin(), bytes.begin() + kSaverDataRecordSize, record.bytes.begin());
  return record;
}

std::optional<DataFileEntry> parseDataFileEntry(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kDataFileEntrySize) return std::nullopt;
  ByteReader r(bytes.first(kDataFileEntrySize));
  DataFileEntry e;
  e.entryKind = r.u8();
  r.skip(1);
  std::span<const std::uint8_t> name = r.bytes(kEntryNameFieldSize);
  std::size_t n = 0;
  while (n < name.size() && name[n] != 0) ++n;
  e.entryName.assign(name.begin(), name.begin() + n);
  e.nameTerminated = n < name.size();
  r.skip(2);
  e.dataOffset = r.i32();
  if (r.failed()) return std::nullopt;
  return e;
}

std::optional<MemberHeader> parseMemberHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kMemberHeaderSize) return std::nullopt;
  ByteReader r(bytes.first(kMemberHeaderSize));
  r.skip(kMemberFileSizeField);
  MemberHeader m;
  m.fileSize = r.i32();
  m.storedSize = r.i32();
  m.isImploded = r.i32();
  if (r.failed()) return std::nullopt;
  return m;
}

std::vector<std::uint8_t> serializePackageHeader(const PackageHeader& h) {
  std::vector<std::uint8_t> out;
  out.reserve(kPackageHeaderSize);
  ByteWriter w(out);
  w.u8(h.installerMode);
  w.u8(h.hasLicense);
  w.u8(h.hasReadMe);
  w.u8(h.hasFlashAXInstaller);
  w.u8(h.flashAXInstallerVersion);
  w.u8(h.offerControlPanel);
  w.fixedText(h.saverName, kSaverNameSize);
  w.zeros(kItemTableOffset - w.size());
  for (const PackageItem& item : h.items) writeItem(w, item);
  return out;
}

std::vector<std::uint8_t> serializePackageItem(const PackageItem& item) {
  std::vector<std::uint8_t> out;
  out.reserve(kPackageItemSize);
  ByteWriter w(out);
  writeItem(w, item);
  return out;
}

std::vector<std::uint8_t> serializeSaverDataRecord(const SaverDataRecord& record) {
  return std::vector<std::uint8_t>(record.bytes.begin(), record.bytes.end());
}

std::vector<std::uint8_t> serializeDataFileEntry(const DataFileEntry& e) {
  std::vector<std::uint8_t> out;
  out.reserve(kDataFileEntrySize);
  ByteWriter w(out);
  w.u8(e.entryKind);
  w.u8(0);
  w.fixedText(e.entryName, kEntryNameFieldSize);
  w.zeros(2);
  w.i32(e.dataOffset);
  return out;
}

std::vector<std::uint8_t> serializeMemberHeader(const MemberHeader& m) {
  std::vector<std::uint8_t> out;
  out.reserve(kMemberHeaderSize);
  ByteWriter w(out);
  w.zeros(kMemberFileSizeField);
  w.i32(m.fileSize);
  w.i32(m.storedSize);
  w.i32(m.isImploded);
  w.zeros(kMemberHeaderSize - w.size());
  return out;
}

bool parseDataFileTable(std::span<const std::uint8_t> bytes, SaverDataRecord& record,
                        std::vector<DataFileEntry>& entries) {
  std::optional<SaverDataRecord> rec = parseSaverDataRecord(bytes);
  if (!rec) return false;
  std::int32_t count = rec->fileCount();
  if (count < 0 || count > kMaxFileCount) return false;
  if (bytes.size() < dataFileTableSize(count)) return false;
  std::vector<DataFileEntry> table;
  table.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    std::size_t at = kSaverDataRecordSize + kDataFileEntrySize * static_cast<std::size_t>(i);
    table.push_back(*parseDataFileEntry(bytes.subspan(at)));
  }
  record = *rec;
  entries = std::move(table);
  return true;
}

std::int64_t itemStoredSize(const PackageItem& item) {
  return std::int64_t{item.endOffset} - std::int64_t{item.startOffset} + 1;
}

std::string saverNameFromField(std::span<const std::uint8_t> field) {
  std::size_t n = 0;
  while (n < field.size() && n < kSaverNameSize && field[n] != 0) ++n;
  return std::string(field.begin(), field.begin() + n);
}

std::string changeFileExtension(std::string_view name, std::string_view ext) {
  std::size_t cut = name.find_last_of(".\\/:");
  std::string result(name);
  if (cut != std::string_view::npos && name[cut] == '.') result.resize(cut);
  result += ext;
  return result;
}

std::string previewFileName(std::uint8_t installerMode, std::string_view fileName) {
  std::string_view ext;
  if (installerMode == 1) ext = ".BMP";
  else if (installerMode == 8) ext = ".jpg";
  else return std::string(fileName);

  std::string result = changeFileExtension(fileName, ext);
  if (utf16Length(result) > kMaxItemNameLength) {
    // Cutting the end would lose the extension the preview loader relies on
    // and could leave a trailing dot, so shorten the base name instead, by
    // whole characters (names are UTF-8).
    std::string base = result.substr(0, result.size() - ext.size());
    while (!base.empty() && utf16Length(base) > kMaxItemNameLength - ext.size()) {
      while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80) base.pop_back();
      if (!base.empty()) base.pop_back();
    }
    result = base + std::string(ext);
  }
  return result;
}

std::optional<std::string> itemDestinationName(std::int32_t itemType, std::string_view fileName) {
  switch (itemType) {
    case 1: case 2: case 5: case 6: case 7: case 10:
      return std::string(fileName);
    case 3:
      if (isFlashInstallerName(fileName)) return std::string(fileName);
      return changeFileExtension(fileName, ".dll");
    case 4:
      if (fileName == kImplodeLibraryStoredName) return std::string(kImplodeLibraryName);
      return std::string(fileName);
    default:
      return std::nullopt;
  }
}

ItemDestination itemDestination(std::int32_t itemType, std::string_view fileName,
                                const InstallFolders& folders, bool osIs64Bit) {
  ItemDestination d;
  std::optional<std::string> name = itemDestinationName(itemType, fileName);
  if (!name) return d;
  d.hasDestination = true;
  switch (itemType) {
    case 1: case 5: case 6: case 10:
      d.path = folders.saverFolder + *name;
      break;
    case 2:
      d.path = folders.systemFolder + *name;
      // An unknown native folder means no second copy, never a relative path.
      if (osIs64Bit && !folders.sysnativeFolder.empty()) d.sysnativePath = folders.sysnativeFolder + *name;
      break;
    case 3:
      d.path = (isFlashInstallerName(fileName) ? folders.workFolder : folders.commonFolder) + *name;
      break;
    default:  // 4 and 7
      d.path = folders.workFolder + *name;
      break;
  }
  return d;
}
