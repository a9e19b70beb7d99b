// Package and data file builders.
#include "package/package_writer.h"

#include <cstring>
#include <limits>

#include "base/byte_reader.h"
#include "base/crc32.h"
#include "package/trailer.h"

namespace {

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

std::vector<std::uint8_t> bytesOf(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// An uncompressed SWF 9 movie: empty stage rectangle, 12 frames/s, one
// frame, End tag.
std::vector<std::uint8_t> minimalSwf() {
  return {'F', 'W', 'S', 9, 15, 0, 0, 0, 0x00, 0x00, 0x0C, 0x01, 0x00, 0x00, 0x00};
}

bool validIndex(int index) { return index >= 0 && index < kPackageItemCount; }

}  // namespace

// ---- DataFileBuilder ------------------------------------------------------

DataFileBuilder& DataFileBuilder::add(std::string name, std::vector<std::uint8_t> data) {
  MemberHeader h;
  h.fileSize = static_cast<std::int32_t>(data.size());
  h.storedSize = h.fileSize;
  return addMember(std::move(name), h, std::move(data));
}

DataFileBuilder& DataFileBuilder::addImploded(std::string name, const std::vector<std::uint8_t>& data,
                                              const CompressFn& implode) {
  std::vector<std::uint8_t> stored = implode(data);
  MemberHeader h;
  h.fileSize = static_cast<std::int32_t>(data.size());
  h.storedSize = static_cast<std::int32_t>(stored.size());
  h.isImploded = 1;
  return addMember(std::move(name), h, std::move(stored));
}

DataFileBuilder& DataFileBuilder::addCopy(std::string name) {
  Entry e;
  e.kind = kEntryKindCopy;
  e.name = std::move(name);
  entries_.push_back(std::move(e));
  return *this;
}

DataFileBuilder& DataFileBuilder::addMember(std::string name, const MemberHeader& header,
                                            std::vector<std::uint8_t> data, std::uint8_t entryKind) {
  Entry e;
  e.kind = entryKind;
  e.name = std::move(name);
  e.hasMember = true;
  e.header = header;
  e.data = std::move(data);
  entries_.push_back(std::move(e));
  return *this;
}

DataFileBuilder& DataFileBuilder::record(const SaverDataRecord& base) {
  record_ = base;
  rawRecord_ = false;
  return *this;
}

DataFileBuilder& DataFileBuilder::mainFileSource(std::int32_t value) {
  mainFileSource_ = value;
  return *this;
}

DataFileBuilder& DataFileBuilder::rawRecord(const SaverDataRecord& record) {
  record_ = record;
  rawRecord_ = true;
  return *this;
}

std::vector<std::uint8_t> DataFileBuilder::build(DataFileLayout* layout) const {
  SaverDataRecord rec = record_;
  if (!rawRecord_) {
    rec.setFileCount(static_cast<std::int32_t>(entries_.size()));
    rec.setMainFileSource(mainFileSource_);
  }
  DataFileLayout places;
  std::uint64_t offset = kSaverDataRecordSize + kDataFileEntrySize * std::uint64_t{entries_.size()};
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    places.entryOffsets.push_back(static_cast<std::uint32_t>(kSaverDataRecordSize + kDataFileEntrySize * i));
    places.memberOffsets.push_back(entries_[i].hasMember ? static_cast<std::uint32_t>(offset) : 0);
    if (entries_[i].hasMember) offset += kMemberHeaderSize + entries_[i].data.size();
    if (offset > kMaxOffset) return {};
  }

  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(offset));
  ByteWriter w(out);
  w.bytes(rec.bytes.data(), rec.bytes.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    DataFileEntry e;
    e.entryKind = entries_[i].kind;
    e.entryName = entries_[i].name;
    e.dataOffset = static_cast<std::int32_t>(places.memberOffsets[i]);
    w.bytes(serializeDataFileEntry(e));
  }
  for (const Entry& e : entries_) {
    if (!e.hasMember) continue;
    w.bytes(serializeMemberHeader(e.header));
    w.bytes(e.data);
  }
  if (layout) *layout = std::move(places);
  return out;
}

// ---- PackageBuilder -------------------------------------------------------

PackageBuilder::PackageBuilder() {
  base_.installerMode = 2;
  base_.saverName = "Test Saver";
  base_.offerControlPanel = 1;
  implodeLibrary(bytesOf("implode library placeholder"));
  preview("installer.swf", minimalSwf());
  item(6, "Test Saver.scr", 2, bytesOf("MZ screen saver placeholder"));
  item(7, "extra7.bin", 1, bytesOf("extra file 7"));
  dataFile(DataFileBuilder());
  item(9, "extra9.bin", 1, bytesOf("extra file 9"));
  item(10, "extra10.bin", 1, bytesOf("extra file 10"));
}

PackageBuilder& PackageBuilder::mode(std::uint8_t installerMode) {
  base_.installerMode = installerMode;
  return *this;
}

PackageBuilder& PackageBuilder::saverName(std::string name) {
  base_.saverName = std::move(name);
  return *this;
}

PackageBuilder& PackageBuilder::offerControlPanel(bool offer) {
  base_.offerControlPanel = offer ? 1 : 0;
  return *this;
}

PackageBuilder& PackageBuilder::license(std::string name, std::vector<std::uint8_t> data) {
  base_.hasLicense = 1;
  return item(4, std::move(name), 7, std::move(data));
}

PackageBuilder& PackageBuilder::readMe(std::string name, std::vector<std::uint8_t> data) {
  base_.hasReadMe = 1;
  return item(5, std::move(name), 7, std::move(data));
}

PackageBuilder& PackageBuilder::preview(std::string name, std::vector<std::uint8_t> data) {
  return item(3, std::move(name), 7, std::move(data));
}

PackageBuilder& PackageBuilder::flashInstaller(std::string name, std::vector<std::uint8_t> data,
                                               std::uint8_t version) {
  base_.hasFlashAXInstaller = 1;
  base_.flashAXInstallerVersion = version;
  return item(2, std::move(name), 3, std::move(data));
}

PackageBuilder& PackageBuilder::implodeLibrary(std::vector<std::uint8_t> data) {
  return item(1, "impborl.dat", 4, std::move(data));
}

PackageBuilder& PackageBuilder::dataFile(const DataFileBuilder& data, std::string name) {
  return item(8, std::move(name), 7, data.build());
}

PackageBuilder& PackageBuilder::item(int index, std::string name, std::int32_t itemType,
                                     std::vector<std::uint8_t> data) {
  PackageItem fields;
  fields.fileName = std::move(name);
  fields.itemType = itemType;
  fields.expandedSize = static_cast<std::int32_t>(data.size());
  return rawItem(index, fields, std::move(data));
}

PackageBuilder& PackageBuilder::compressedItem(int index, std::string name, std::int32_t itemType,
                                               const std::vector<std::uint8_t>& data,
                                               const CompressFn& compress) {
  PackageItem fields;
  fields.fileName = std::move(name);
  fields.itemType = itemType;
  fields.isCompressed = 1;
  fields.expandedSize = static_cast<std::int32_t>(data.size());
  return rawItem(index, fields, compress(data));
}

PackageBuilder& PackageBuilder::rawItem(int index, const PackageItem& fields, std::vector<std::uint8_t> stored) {
  if (!validIndex(index)) return *this;
  base_.items[static_cast<std::size_t>(index)] = fields;
  stored_[static_cast<std::size_t>(index)] = std::move(stored);
  return *this;
}

PackageBuilder& PackageBuilder::removeItem(int index) {
  if (!validIndex(index)) return *this;
  base_.items[static_cast<std::size_t>(index)] = PackageItem();
  stored_[static_cast<std::size_t>(index)].clear();
  return *this;
}

PackageBuilder& PackageBuilder::editHeader(std::function<void(PackageHeader&)> edit) {
  edits_.push_back(std::move(edit));
  return *this;
}

// Present items follow the header in index order; an absent item keeps
// zero offsets and contributes no bytes.
std::optional<PackageHeader> PackageBuilder::layout() const {
  PackageHeader h = base_;
  std::uint64_t offset = kPackageDataStart;
  for (std::size_t k = 0; k < h.items.size(); ++k) {
    PackageItem& item = h.items[k];
    if (!item.present()) {
      item.startOffset = 0;
      item.endOffset = 0;
      continue;
    }
    std::uint64_t size = stored_[k].size();
    if (offset + size > kMaxOffset) return std::nullopt;
    item.startOffset = static_cast<std::int32_t>(offset);
    item.endOffset = static_cast<std::int32_t>(offset + size - 1);  // size 0 gives start - 1
    offset += size;
  }
  return h;
}

PackageHeader PackageBuilder::header() const {
  PackageHeader h = layout().value_or(base_);
  for (const auto& edit : edits_) edit(h);
  return h;
}

bool PackageBuilder::writeTo(std::span<const std::uint8_t> stub, BuildOptions options,
                             const WriteFn& sink) const {
  if (stub.size() != INSTALLER_SIZE_IN_BYTES2 || !layout()) return false;
  // The trailer's CRC reads the stub's signing fields as zero.
  std::uint32_t crc = trailerCrcOfHead(stub);
  auto emit = [&](const std::uint8_t* p, std::size_t n) {
    if (n == 0) return true;
    crc = crc32(p, n, crc);
    return sink(p, n);
  };
  std::vector<std::uint8_t> headerBytes = serializePackageHeader(header());
  if (!sink(stub.data(), stub.size()) || !emit(headerBytes.data(), headerBytes.size())) return false;
  for (std::size_t k = 0; k < stored_.size(); ++k) {
    if (!base_.items[k].present()) continue;
    if (!emit(stored_[k].data(), stored_[k].size())) return false;
  }
  if (!options.trailer) return true;
  std::uint64_t end = stub.size() + headerBytes.size();
  for (std::size_t k = 0; k < stored_.size(); ++k)
    if (base_.items[k].present()) end += stored_[k].size();
  std::vector<std::uint8_t> padding(static_cast<std::size_t>(trailerPadding(end)), 0);
  if (!emit(padding.data(), padding.size())) return false;
  std::vector<std::uint8_t> trailer = serializeTrailer(crc);
  return sink(trailer.data(), trailer.size());
}

std::vector<std::uint8_t> PackageBuilder::build(std::span<const std::uint8_t> stub, BuildOptions options) const {
  std::vector<std::uint8_t> out;
  bool ok = writeTo(stub, options, [&out](const std::uint8_t* p, std::size_t n) {
    out.insert(out.end(), p, p + n);
    return true;
  });
  if (!ok) out.clear();
  return out;
}

std::vector<std::uint8_t> PackageBuilder::build(BuildOptions options) const {
  return build(fakeStub(), options);
}

std::vector<std::uint8_t> PackageBuilder::fakeStub() {
  return std::vector<std::uint8_t>(INSTALLER_SIZE_IN_BYTES2, 0);
}
