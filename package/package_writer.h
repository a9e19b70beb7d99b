// Builders for installer packages and screen saver data files, used by the
// packager and by the tests.
//
//   PackageBuilder b;  // a valid minimal package (see the constructor)
//   b.mode(2).saverName("Aquarium").license("lic.rtf", bytes)
//    .item(6, "Aquarium.scr", 2, scr)
//    .dataFile(DataFileBuilder().add("a.txt", a).addImploded("b.bin", b, implode));
//   std::vector<uint8_t> installer = b.build(stub, {.trailer = true});
//
// Items are laid out one after the other, in index order, right after the
// header; header() gives the header build() writes (offsets filled in), so a
// test can find every field and damage it.  Nothing is validated here: a
// test may build any package, hostile ones included; the packager runs the
// checks of package/validate.h on the result.  The same calls always give the
// same bytes.
//
// Compression is supplied by the caller (the implode encoder lives in
// tools/), as a function from the file's bytes to the stored bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/package_format.h"

using CompressFn = std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)>;

// The layout of a built data file, for tests that damage it.
struct DataFileLayout {
  std::vector<std::uint32_t> entryOffsets;   // of each DataFileEntry record
  std::vector<std::uint32_t> memberOffsets;  // of each MemberHeader (0 for copy entries)
};

class DataFileBuilder {
 public:
  // A stored member: the file's bytes as they are.
  DataFileBuilder& add(std::string name, std::vector<std::uint8_t> data);
  // An imploded member: stored as implode(data), fileSize = data.size().
  DataFileBuilder& addImploded(std::string name, const std::vector<std::uint8_t>& data,
                               const CompressFn& implode);
  // A kind 3 entry: a copy of the main file (of the preview movie for entry 1).
  DataFileBuilder& addCopy(std::string name);
  // Any entry: the given kind, member header and data bytes as they are.
  DataFileBuilder& addMember(std::string name, const MemberHeader& header, std::vector<std::uint8_t> data,
                             std::uint8_t entryKind = 0);

  // The opaque settings record; fileCount and mainFileSource are filled in at
  // build time unless rawRecord() was used.
  DataFileBuilder& record(const SaverDataRecord& base);
  DataFileBuilder& mainFileSource(std::int32_t value);
  // Writes `record` exactly as given, fileCount and mainFileSource included.
  DataFileBuilder& rawRecord(const SaverDataRecord& record);

  std::vector<std::uint8_t> build(DataFileLayout* layout = nullptr) const;
  std::size_t entryCount() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint8_t kind = 0;
    std::string name;
    bool hasMember = false;
    MemberHeader header;
    std::vector<std::uint8_t> data;
  };
  std::vector<Entry> entries_;
  SaverDataRecord record_;
  std::int32_t mainFileSource_ = 0;
  bool rawRecord_ = false;
};

struct BuildOptions {
  bool trailer = false;  // append the integrity trailer (package/trailer.h)
};

// Receives the installer bytes in order; returns false to stop the build.
using WriteFn = std::function<bool(const std::uint8_t* data, std::size_t n)>;

class PackageBuilder {
 public:
  // Defaults: mode 2, saver "Test Saver", offerControlPanel 1, and items
  //   1 "impborl.dat" type 4 (placeholder bytes), 3 "installer.swf" type 7 (a
  //   minimal SWF), 6 "Test Saver.scr" type 2, 7 "extra7.bin" type 1,
  //   8 "saverdata.bin" type 7 (an empty data file), 9 "extra9.bin" type 1,
  //   10 "extra10.bin" type 1.
  PackageBuilder();

  PackageBuilder& mode(std::uint8_t installerMode);
  PackageBuilder& saverName(std::string name);
  PackageBuilder& offerControlPanel(bool offer);
  // Item 4 with hasLicense set (itemType 7).
  PackageBuilder& license(std::string name, std::vector<std::uint8_t> data);
  // Item 5 with hasReadMe set (itemType 7).
  PackageBuilder& readMe(std::string name, std::vector<std::uint8_t> data);
  // Item 3 (itemType 7).
  PackageBuilder& preview(std::string name, std::vector<std::uint8_t> data);
  // Item 2 (itemType 3) with hasFlashAXInstaller and flashAXInstallerVersion.
  PackageBuilder& flashInstaller(std::string name, std::vector<std::uint8_t> data, std::uint8_t version);
  // Item 1's bytes, stored as "impborl.dat" with itemType 4.
  PackageBuilder& implodeLibrary(std::vector<std::uint8_t> data);
  // Item 8 (itemType 7) holding the built data file.
  PackageBuilder& dataFile(const DataFileBuilder& data, std::string name = "saverdata.bin");

  // A stored item.
  PackageBuilder& item(int index, std::string name, std::int32_t itemType, std::vector<std::uint8_t> data);
  // A compressed item: stored as compress(data), expandedSize = data.size().
  PackageBuilder& compressedItem(int index, std::string name, std::int32_t itemType,
                                 const std::vector<std::uint8_t>& data, const CompressFn& compress);
  // An item with every field but the offsets as given, stored bytes as given.
  PackageBuilder& rawItem(int index, const PackageItem& fields, std::vector<std::uint8_t> stored);
  PackageBuilder& removeItem(int index);
  // Edits applied to the header after the layout (offsets included) is
  // computed; the items' bytes stay where the layout put them.
  PackageBuilder& editHeader(std::function<void(PackageHeader&)> edit);

  // The header build() writes.
  PackageHeader header() const;
  // The stub followed by the package.  The stub must be exactly
  // INSTALLER_SIZE_IN_BYTES2 bytes, and the package must fit the format's
  // signed 32-bit offsets; otherwise the result is empty.
  std::vector<std::uint8_t> build(std::span<const std::uint8_t> stub, BuildOptions options = {}) const;
  // The same on a fake stub of zero bytes.
  std::vector<std::uint8_t> build(BuildOptions options = {}) const;
  // Streams the installer to `sink` (for large packages); false when the
  // stub or layout is unusable or the sink refused a block.
  bool writeTo(std::span<const std::uint8_t> stub, BuildOptions options, const WriteFn& sink) const;

  static std::vector<std::uint8_t> fakeStub();

 private:
  std::optional<PackageHeader> layout() const;  // before editHeader
  PackageHeader base_;
  std::array<std::vector<std::uint8_t>, kPackageItemCount> stored_;
  std::vector<std::function<void(PackageHeader&)>> edits_;
};
