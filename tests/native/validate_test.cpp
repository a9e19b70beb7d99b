// Hostile-input tests for the package and data file checks: a known-good
// package from the writer, exact byte edits with the expected code, a
// truncation sweep and a seeded byte-flip sweep.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "package/package_writer.h"
#include "package/validate.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cname(const std::string& s) {  // a NUL-terminated entry name
  Bytes b = text(s);
  b.push_back(0);
  return b;
}

// Stands in for the implode encoder: the checks never decode members.
Bytes fakeImplode(const Bytes& data) {
  Bytes out = text("IMPL");
  out.insert(out.end(), data.rbegin(), data.rend());
  return out;
}

// The header check on an installer file; nullopt when the file is too short
// to hold a header at all.
std::optional<ErrorCode> checkHeader(std::span<const std::uint8_t> file) {
  if (file.size() < INSTALLER_SIZE_IN_BYTES2) return std::nullopt;
  std::optional<PackageHeader> h = parsePackageHeader(file.subspan(INSTALLER_SIZE_IN_BYTES2));
  if (!h) return std::nullopt;
  return validatePackageHeader(*h, file.size());
}

struct Fixture {
  PackageBuilder builder;
  DataFileLayout layout;
  PackageHeader header;
  Bytes file;

  Fixture() {
    DataFileBuilder data;
    data.addCopy("main.swf")
        .add("images\\fish.png", text("fish picture"))
        .addImploded("sound.bin", text("bubbling noises"), fakeImplode)
        .addCopy("")  // an empty name is skipped
        .add("last.txt", text("the last member ends the file"));
    data.build(&layout);
    builder.license("lic.rtf", text("{\\rtf1 license}")).readMe("readme.txt", text("read me")).dataFile(data);
    header = builder.header();
    file = builder.build();
  }
  std::size_t item(int k, std::size_t field) const {
    return INSTALLER_SIZE_IN_BYTES2 + itemRecordOffset(k) + field;
  }
  std::size_t dataFile() const { return static_cast<std::size_t>(header.items[8].startOffset); }
  std::size_t dataFileEnd() const { return static_cast<std::size_t>(header.items[8].endOffset) + 1; }
  // Both checks on an installer laid out like this one: the header, and the
  // data file where this fixture put it (whatever the damaged header says).
  ErrorCode check(std::span<const std::uint8_t> f) const {
    if (ErrorCode rc = *checkHeader(f)) return rc;
    return validateDataFile(f.subspan(dataFile(), dataFileEnd() - dataFile()));
  }
  std::size_t entry(int i, std::size_t field) const { return dataFile() + layout.entryOffsets[i - 1] + field; }
  std::size_t member(int i, std::size_t field) const { return dataFile() + layout.memberOffsets[i - 1] + field; }
};

Bytes le32(std::int64_t v) {
  Bytes b(4);
  storeLe32(b.data(), static_cast<std::uint32_t>(v));
  return b;
}

Bytes itemName(const std::string& s) {  // length byte + chars
  return text(static_cast<char>(s.size()) + s);
}

TEST(PackageValidation, GoodPackagePasses) {
  Fixture f;
  EXPECT_EQ(f.check(f.file), errOk);
  EXPECT_EQ(checkHeader(PackageBuilder().build()), errOk);
}

TEST(PackageValidation, HostileEdits) {
  const Fixture f;
  const std::int32_t start6 = f.header.items[6].startOffset;
  const std::int64_t size = static_cast<std::int64_t>(f.file.size());
  struct Edit {
    const char* name;
    std::size_t offset;
    Bytes bytes;
    ErrorCode expected;
  };
  const Edit edits[] = {
      {"item starts inside the stub", f.item(6, kItemStartOffsetField), le32(1000), errCorruptPackage},
      {"item starts inside the header", f.item(6, kItemStartOffsetField), le32(INSTALLER_SIZE_IN_BYTES2 + 3151),
       errCorruptPackage},
      {"negative start", f.item(6, kItemStartOffsetField), le32(-5), errCorruptPackage},
      {"end past the file", f.item(10, kItemEndOffsetField), le32(size), errCorruptPackage},
      {"end at INT32_MAX", f.item(6, kItemEndOffsetField), le32(INT32_MAX), errCorruptPackage},
      {"negative size", f.item(6, kItemEndOffsetField), le32(start6 - 2), errCorruptPackage},
      {"INT32_MIN end", f.item(6, kItemEndOffsetField), le32(INT32_MIN), errCorruptPackage},
      {"size 0 is left to the reader", f.item(6, kItemEndOffsetField), le32(start6 - 1), errOk},
      {"type 0", f.item(6, kItemTypeField), le32(0), errCorruptPackage},
      {"type 8", f.item(7, kItemTypeField), le32(8), errCorruptPackage},
      {"type 11", f.item(9, kItemTypeField), le32(11), errCorruptPackage},
      {"negative type", f.item(1, kItemTypeField), le32(-1), errCorruptPackage},
      {"compressed, negative expanded size", f.item(7, kItemIsCompressedField), {1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
       errCorruptPackage},
      {"name climbs out", f.item(6, 0), itemName("..\\x.scr"), errBadName},
      {"absolute name", f.item(7, 0), itemName("C:\\x.bin"), errBadName},
      {"device name", f.item(9, 0), itemName("NUL.bin"), errBadName},
      {"trailing dot", f.item(10, 0), itemName("extra."), errBadName},
      {"flash version 2", INSTALLER_SIZE_IN_BYTES2 + 3, {1, 2}, errCorruptPackage},
      {"flash version 2 without installer", INSTALLER_SIZE_IN_BYTES2 + 3, {0, 2}, errOk},
      {"item 0 is never read", f.item(0, 0), {1, 'x'}, errOk},
      {"absent item offsets are not read", f.item(2, kItemStartOffsetField), le32(-1), errOk},
      // Data file
      {"fileCount 1011", f.dataFile() + kFileCountField, le32(1011), errCorruptPackage},
      {"fileCount -1", f.dataFile() + kFileCountField, le32(-1), errCorruptPackage},
      {"fileCount past the file", f.dataFile() + kFileCountField, le32(1010), errCorruptPackage},
      {"fileCount 0", f.dataFile() + kFileCountField, le32(0), errOk},
      {"entry climbs out", f.entry(2, kEntryNameField), cname("..\\..\\evil.dll"), errBadName},
      {"entry absolute", f.entry(2, kEntryNameField), cname("\\windows\\evil.dll"), errBadName},
      {"entry UNC", f.entry(2, kEntryNameField), cname("\\\\host\\share\\x"), errBadName},
      {"entry drive", f.entry(3, kEntryNameField), cname("C:evil.dll"), errBadName},
      {"entry name unterminated", f.entry(3, kEntryNameField), Bytes(256, 'a'), errBadName},
      {"copy entry name checked too", f.entry(1, kEntryNameField), cname("a/b.swf"), errBadName},
      {"member offset negative", f.entry(2, kEntryDataOffsetField), le32(-44), errCorruptPackage},
      {"member offset in the table", f.entry(2, kEntryDataOffsetField), le32(0), errCorruptPackage},
      {"member offset past the end", f.entry(5, kEntryDataOffsetField), le32(1 << 30), errCorruptPackage},
      {"member header cut by the end", f.entry(5, kEntryDataOffsetField),
       le32(static_cast<std::int64_t>(f.header.items[8].endOffset - f.header.items[8].startOffset) - 40),
       errCorruptPackage},
      {"stored fileSize too big", f.member(2, kMemberFileSizeField), le32(1 << 20), errCorruptPackage},
      {"stored fileSize negative", f.member(2, kMemberFileSizeField), le32(-1), errCorruptPackage},
      {"imploded storedSize too big", f.member(3, kMemberStoredSizeField), le32(1 << 20), errCorruptPackage},
      {"imploded storedSize negative", f.member(3, kMemberStoredSizeField), le32(-3), errCorruptPackage},
      {"imploded storedSize 0 left to the reader", f.member(3, kMemberStoredSizeField), le32(0), errOk},
      {"imploded fileSize negative", f.member(3, kMemberFileSizeField), le32(-3), errCorruptPackage},
      {"fileSize 0 writes nothing", f.member(5, kMemberFileSizeField), {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}, errOk},
      {"copy entry offset ignored", f.entry(1, kEntryDataOffsetField), le32(-1), errOk},
      {"empty entry ignored", f.entry(4, kEntryDataOffsetField), le32(-1), errOk},
      {"kind 3 member offset ignored", f.entry(2, 0), {kEntryKindCopy, 0}, errOk},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.name);
    Bytes damaged = f.file;
    ASSERT_LE(e.offset + e.bytes.size(), damaged.size());
    std::copy(e.bytes.begin(), e.bytes.end(), damaged.begin() + static_cast<std::ptrdiff_t>(e.offset));
    EXPECT_EQ(f.check(damaged), e.expected);
  }
}

TEST(PackageValidation, RenamedNamesAreChecked) {
  // Type 3 turns a 254-char name into 258 chars: too long to be written.
  Bytes f1 = PackageBuilder().item(7, std::string(254, 'a'), 3, text("x")).build();
  EXPECT_EQ(checkHeader(f1), errBadName);
  // The preview keeps its extension within 255 chars in mode 1.
  Bytes f2 = PackageBuilder().mode(1).preview(std::string(255, 'p'), text("BM")).build();
  EXPECT_EQ(checkHeader(f2), errOk);
  // The stored name itself must be safe even where the rename would repair it.
  Bytes f3 = PackageBuilder().mode(1).preview("shot.", text("BM")).build();
  EXPECT_EQ(checkHeader(f3), errBadName);
}

TEST(PackageValidation, MainFileFromPreviewSkipsEntryOne) {
  DataFileBuilder data;
  data.mainFileSource(kMainFileFromPreview).add("main.swf", text("never read")).add("b.txt", text("b"));
  DataFileLayout layout;
  Bytes d = data.build(&layout);
  storeLe32(&d[layout.entryOffsets[0] + kEntryDataOffsetField], 0xFFFFFFFFu);
  EXPECT_EQ(validateDataFile(d), errOk);
  storeLe32(&d[kMainFileSourceField], 0);
  EXPECT_EQ(validateDataFile(d), errCorruptPackage);
}

TEST(PackageValidation, ReadErrorsPassThrough) {
  DataFileBuilder data;
  data.add("a.txt", text("a"));
  Bytes d = data.build();
  SaverDataRecord rec;
  std::vector<DataFileEntry> entries;
  ASSERT_TRUE(parseDataFileTable(d, rec, entries));
  auto failing = [](std::uint64_t, std::uint8_t*, std::size_t) -> ErrorCode { return 5; };
  EXPECT_EQ(validateDataFileTable(rec, entries, d.size(), failing), 5);
  EXPECT_EQ(validateDataFileTable(rec, std::span(entries).first(0), d.size(), failing), errCorruptPackage);
}

// Every prefix of the package must be refused: a header cut short does not
// parse, the last item (item 10) ends the file, and the last member ends the
// data file.
TEST(PackageValidation, TruncationSweep) {
  const Fixture f;
  std::span<const std::uint8_t> all(f.file);
  ASSERT_EQ(static_cast<std::size_t>(f.header.items[10].endOffset) + 1, all.size());
  for (std::size_t n = 0; n < all.size(); ++n) {
    std::optional<ErrorCode> rc = checkHeader(all.first(n));
    ASSERT_EQ(rc.has_value(), n >= kPackageDataStart) << n;
    ASSERT_NE(rc, errOk) << n;
  }
  Bytes data(f.file.begin() + static_cast<std::ptrdiff_t>(f.dataFile()),
             f.file.begin() + f.header.items[8].endOffset + 1);
  ASSERT_EQ(validateDataFile(data), errOk);
  for (std::size_t n = 0; n < data.size(); ++n) ASSERT_NE(validateDataFile(std::span(data).first(n)), errOk) << n;
}

// Seeded random damage to the header and items: the checks must end cleanly
// and anything they accept must keep every present item inside the file.
TEST(PackageValidation, ByteFlipSweep) {
  Fixture f;
  std::mt19937 rng(0x5EED2024u);
  const std::size_t from = INSTALLER_SIZE_IN_BYTES2;
  std::uniform_int_distribution<std::size_t> pos(from, f.file.size() - 1);
  Bytes& file = f.file;
  for (int round = 0; round < 20000; ++round) {
    std::size_t at[4];
    std::uint8_t old[4];
    int flips = 1 + round % 4;
    for (int k = 0; k < flips; ++k) {
      // Half the rounds aim at the item table and data file table.
      at[k] = (round & 1) ? pos(rng) : from + rng() % kPackageHeaderSize;
      old[k] = file[at[k]];
      file[at[k]] = static_cast<std::uint8_t>(rng());
    }
    ErrorCode rc = *checkHeader(file);
    ErrorCode both = f.check(file);
    ASSERT_TRUE(both == errOk || both == errCorruptPackage || both == errBadName) << round << " " << both;
    if (rc == errOk) {
      PackageHeader h = *parsePackageHeader(std::span(file).subspan(from));
      for (int k = 1; k < kPackageItemCount; ++k) {
        const PackageItem& it = h.items[static_cast<std::size_t>(k)];
        if (!it.present()) continue;
        ASSERT_GE(static_cast<std::uint64_t>(it.startOffset), kPackageDataStart) << round;
        ASSERT_LE(static_cast<std::uint64_t>(it.startOffset + itemStoredSize(it)), file.size()) << round;
      }
    }
    for (int k = flips - 1; k >= 0; --k) file[at[k]] = old[k];
  }
}

}  // namespace
