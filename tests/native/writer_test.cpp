#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "package/package_writer.h"
#include "package/trailer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes fakeImplode(const Bytes& data) {
  Bytes out(data.rbegin(), data.rend());
  out.push_back(0xAA);
  return out;
}

Bytes slice(const Bytes& file, const PackageItem& item) {
  return Bytes(file.begin() + item.startOffset, file.begin() + item.endOffset + 1);
}

TEST(PackageWriter, ItemsFollowTheHeaderInIndexOrder) {
  PackageBuilder b;
  b.mode(8).saverName("Aquarium").license("lic.rtf", text("license")).readMe("readme.txt", text("readme"))
      .flashInstaller("install_flash_player_active_x.exe", text("flash"), 1)
      .compressedItem(9, "big.bin", 1, text("aaaaaaaa"), fakeImplode)
      .item(10, "empty.bin", 1, {});
  Bytes file = b.build();
  PackageHeader h = b.header();

  std::optional<PackageHeader> parsed = parsePackageHeader(std::span(file).subspan(INSTALLER_SIZE_IN_BYTES2));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, h);
  EXPECT_EQ(h.saverName, "Aquarium");
  EXPECT_EQ(h.hasLicense + h.hasReadMe + h.hasFlashAXInstaller + h.flashAXInstallerVersion, 4);

  std::int64_t next = static_cast<std::int64_t>(kPackageDataStart);
  for (const PackageItem& it : h.items) {
    if (!it.present()) {
      EXPECT_EQ(it.startOffset, 0);
      continue;
    }
    EXPECT_EQ(it.startOffset, next) << it.fileName;
    next += itemStoredSize(it);
  }
  EXPECT_FALSE(h.items[0].present());
  EXPECT_EQ(next, static_cast<std::int64_t>(file.size()));
  EXPECT_EQ(slice(file, h.items[4]), text("license"));
  EXPECT_EQ(h.items[9].isCompressed, 1);
  EXPECT_EQ(h.items[9].expandedSize, 8);
  EXPECT_EQ(slice(file, h.items[9]), fakeImplode(text("aaaaaaaa")));
  EXPECT_EQ(itemStoredSize(h.items[10]), 0);  // endOffset = startOffset - 1

  EXPECT_EQ(b.build(), file);  // deterministic

  Bytes stub(INSTALLER_SIZE_IN_BYTES2 - 1, 0);
  EXPECT_TRUE(b.build(stub).empty());
}

TEST(PackageWriter, EditHeaderKeepsTheLayout) {
  PackageBuilder b;
  const PackageHeader before = b.header();
  b.editHeader([](PackageHeader& h) { h.items[6].startOffset = -1; }).removeItem(2);
  Bytes file = b.build();
  std::optional<PackageHeader> h = parsePackageHeader(std::span(file).subspan(INSTALLER_SIZE_IN_BYTES2));
  EXPECT_EQ(h->items[6].startOffset, -1);
  EXPECT_EQ(h->items[7], before.items[7]);
  EXPECT_EQ(slice(file, before.items[6]), text("MZ screen saver placeholder"));
}

TEST(PackageWriter, DataFileTable) {
  SaverDataRecord settings;
  for (std::size_t i = 0; i < settings.bytes.size(); ++i) settings.bytes[i] = static_cast<std::uint8_t>(i * 7);
  DataFileBuilder d;
  d.record(settings).mainFileSource(3).addCopy("main.swf").add("dir\\a.txt", text("alpha"))
      .addImploded("b.bin", text("bravo"), fakeImplode);
  DataFileLayout layout;
  Bytes bytes = d.build(&layout);

  SaverDataRecord rec;
  std::vector<DataFileEntry> entries;
  ASSERT_TRUE(parseDataFileTable(bytes, rec, entries));
  EXPECT_EQ(rec.fileCount(), 3);
  EXPECT_EQ(rec.mainFileSource(), 3);
  EXPECT_EQ(rec.bytes[0], settings.bytes[0]);
  EXPECT_EQ(rec.bytes[1239], settings.bytes[1239]);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].entryKind, kEntryKindCopy);
  EXPECT_EQ(entries[0].dataOffset, 0);
  EXPECT_EQ(entries[1].entryName, "dir\\a.txt");
  EXPECT_EQ(static_cast<std::uint32_t>(entries[1].dataOffset), layout.memberOffsets[1]);
  EXPECT_EQ(layout.memberOffsets[1], dataFileTableSize(3));

  MemberHeader stored = *parseMemberHeader(std::span(bytes).subspan(layout.memberOffsets[1]));
  EXPECT_EQ(stored, (MemberHeader{5, 5, 0}));
  EXPECT_EQ(Bytes(bytes.begin() + layout.memberOffsets[1] + kMemberHeaderSize,
                  bytes.begin() + layout.memberOffsets[2]),
            text("alpha"));
  MemberHeader imploded = *parseMemberHeader(std::span(bytes).subspan(layout.memberOffsets[2]));
  EXPECT_EQ(imploded, (MemberHeader{5, 6, 1}));
  EXPECT_EQ(bytes.size(), layout.memberOffsets[2] + kMemberHeaderSize + 6);

  // A raw record is written as given, counts included.
  SaverDataRecord raw = settings;
  raw.setFileCount(7);
  Bytes rawBytes = DataFileBuilder().rawRecord(raw).add("x", text("x")).build();
  EXPECT_EQ(loadLe32(&rawBytes[kFileCountField]), 7u);
}

TEST(Trailer, BuiltPackagesVerify) {
  PackageBuilder b;
  Bytes plain = b.build();
  Bytes sealed = b.build({.trailer = true});
  // Zeros before the trailer make the size a multiple of 8.
  std::uint64_t padding = trailerPadding(plain.size());
  ASSERT_EQ(sealed.size(), plain.size() + padding + kTrailerSize);
  EXPECT_EQ(sealed.size() % 8, 0u);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), sealed.begin()));
  EXPECT_EQ(checkTrailer(plain), TrailerCheck::Absent);
  EXPECT_EQ(checkTrailer(sealed), TrailerCheck::Valid);
  EXPECT_EQ(loadLe32(&sealed[sealed.size() - 12]), kTrailerSize);

  Bytes appended = plain;
  appended.resize(plain.size() + padding, 0);
  appendTrailer(appended);
  EXPECT_EQ(appended, sealed);
}

TEST(Trailer, DamageIsDetected) {
  Bytes sealed = PackageBuilder().build({.trailer = true});
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    // Any byte: the CRC, the length or the (damaged) marker then disagree.
    std::size_t at = round < 16 ? sealed.size() - 16 + static_cast<std::size_t>(round) : rng() % sealed.size();
    std::uint8_t old = sealed[at];
    sealed[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    ASSERT_EQ(checkTrailer(sealed), TrailerCheck::Mismatch) << at;
    sealed[at] = old;
  }
  // A cut file has lost its marker: indistinguishable from no trailer, which
  // the header checks then catch by the item offsets.
  EXPECT_EQ(checkTrailer(std::span(sealed).first(sealed.size() - 1)), TrailerCheck::Absent);
  EXPECT_EQ(checkTrailer({}), TrailerCheck::Absent);
  Bytes onlyTrailer = serializeTrailer(0);  // CRC of nothing is 0
  EXPECT_EQ(checkTrailer(onlyTrailer), TrailerCheck::Valid);
}

TEST(Trailer, BlockSizesDoNotMatter) {
  Bytes sealed = PackageBuilder().build({.trailer = true});
  for (std::size_t block : {1u, 3u, 15u, 16u, 17u, 4096u, 65536u}) {
    TrailerChecker checker;
    for (std::size_t at = 0; at < sealed.size(); at += block)
      checker.update(sealed.data() + at, std::min(block, sealed.size() - at));
    EXPECT_EQ(checker.finish(), TrailerCheck::Valid) << block;
    EXPECT_EQ(checker.bytesSeen(), sealed.size());
  }
}

TEST(Trailer, SinkMayStopTheBuild) {
  PackageBuilder b;
  std::size_t calls = 0;
  EXPECT_FALSE(b.writeTo(PackageBuilder::fakeStub(), {}, [&](const std::uint8_t*, std::size_t) {
    return ++calls < 3;
  }));
  EXPECT_EQ(calls, 3u);
}

}  // namespace
