#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/package_format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void putText(Bytes& b, std::size_t at, const std::string& s) { std::copy(s.begin(), s.end(), b.begin() + at); }

// A header written by hand at the documented offsets, so that parser and
// serializer are checked against the layout rather than against each other.
Bytes handMadeHeader() {
  Bytes b(kPackageHeaderSize, 0);
  b[0] = 8;   // installerMode
  b[1] = 1;   // hasLicense
  b[2] = 2;   // hasReadMe
  b[3] = 3;   // hasFlashAXInstaller
  b[4] = 1;   // flashAXInstallerVersion
  b[5] = 5;   // offerControlPanel
  putText(b, 6, std::string("Aquarium\0junk", 13));
  std::size_t item3 = 72 + 280 * 3;
  b[item3] = 7;
  putText(b, item3 + 1, "fish.gz");
  storeLe32(&b[item3 + 256], 0x01020304u);
  storeLe32(&b[item3 + 260], 0xFFFFFFFEu);  // -2
  storeLe32(&b[item3 + 264], 7);
  b[item3 + 268] = 1;
  storeLe32(&b[item3 + 276], 0x7FFFFFFFu);
  std::size_t item10 = 72 + 280 * 10;
  b[item10] = 255;
  for (std::size_t i = 0; i < 255; ++i) b[item10 + 1 + i] = static_cast<std::uint8_t>('A' + i % 26);
  return b;
}

TEST(PackageFormat, HeaderFieldsAtTheirOffsets) {
  Bytes raw = handMadeHeader();
  std::optional<PackageHeader> h = parsePackageHeader(raw);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->installerMode, 8);
  EXPECT_EQ(h->hasLicense, 1);
  EXPECT_EQ(h->hasReadMe, 2);
  EXPECT_EQ(h->hasFlashAXInstaller, 3);
  EXPECT_EQ(h->flashAXInstallerVersion, 1);
  EXPECT_EQ(h->offerControlPanel, 5);
  EXPECT_EQ(h->saverName, "Aquarium");
  const PackageItem& it = h->items[3];
  EXPECT_EQ(it.fileName, "fish.gz");
  EXPECT_EQ(it.startOffset, 0x01020304);
  EXPECT_EQ(it.endOffset, -2);
  EXPECT_EQ(it.itemType, 7);
  EXPECT_EQ(it.isCompressed, 1);
  EXPECT_EQ(it.expandedSize, 0x7FFFFFFF);
  EXPECT_EQ(h->items[10].fileName.size(), 255u);
  EXPECT_FALSE(h->items[0].present());
  Bytes clean = raw;
  std::fill(clean.begin() + 6 + 9, clean.begin() + 6 + 13, 0);  // not read after the NUL
  EXPECT_EQ(serializePackageHeader(*h), clean);

  std::fill(raw.begin() + 6, raw.begin() + 70, 'N');  // 64 chars, no NUL
  raw[70] = 'X';                                      // padding, not read
  EXPECT_EQ(parsePackageHeader(raw)->saverName, std::string(64, 'N'));

  EXPECT_FALSE(parsePackageHeader(std::span(raw).first(kPackageHeaderSize - 1)));
}

TEST(PackageFormat, DataFileRecordsRoundTrip) {
  std::mt19937 rng(7);
  SaverDataRecord rec;
  for (auto& b : rec.bytes) b = static_cast<std::uint8_t>(rng());
  rec.setFileCount(1010);
  rec.setMainFileSource(3);
  Bytes raw = serializeSaverDataRecord(rec);
  EXPECT_EQ(loadLe32(&raw[212]), 1010u);
  EXPECT_EQ(loadLe32(&raw[1204]), 3u);
  EXPECT_EQ(parseSaverDataRecord(raw)->bytes, rec.bytes);

  DataFileEntry e{3, "images\\fish.png", true, -5};
  Bytes er = serializeDataFileEntry(e);
  EXPECT_EQ(er[0], 3);
  EXPECT_EQ(er[2], 'i');
  EXPECT_EQ(loadLe32(&er[260]), 0xFFFFFFFBu);
  EXPECT_EQ(*parseDataFileEntry(er), e);

  DataFileEntry full{0, std::string(256, 'z'), true, 0};
  std::optional<DataFileEntry> back = parseDataFileEntry(serializeDataFileEntry(full));
  EXPECT_EQ(back->entryName.size(), 256u);
  EXPECT_FALSE(back->nameTerminated);

  MemberHeader m{100, -1, 1};
  Bytes mr = serializeMemberHeader(m);
  EXPECT_EQ(loadLe32(&mr[8]), 100u);
  EXPECT_EQ(loadLe32(&mr[12]), 0xFFFFFFFFu);
  EXPECT_EQ(loadLe32(&mr[16]), 1u);
  EXPECT_EQ(*parseMemberHeader(mr), m);
}

TEST(PackageFormat, Destinations) {
  const InstallFolders f{"W\\", "S\\", "Y\\", "N\\", "C\\"};
  struct Case {
    std::int32_t type;
    std::string name;
    bool is64;
    std::string path;  // empty: no destination
    std::string sysnative;
  };
  const Case cases[] = {
      {1, "a.txt", false, "S\\a.txt", ""},
      {5, "a.txt", false, "S\\a.txt", ""},
      {6, "a.txt", false, "S\\a.txt", ""},
      {10, "a.txt", false, "S\\a.txt", ""},
      {2, "Fish.scr", false, "Y\\Fish.scr", ""},
      {2, "Fish.scr", true, "Y\\Fish.scr", "N\\Fish.scr"},
      {7, "Fish.scr", true, "W\\Fish.scr", ""},
      {3, "install_flash_player_10_active_x.exe", false, "W\\install_flash_player_10_active_x.exe", ""},
      {3, "install_flash_player_active_x.exe", false, "W\\install_flash_player_active_x.exe", ""},
      {3, "Install_Flash_Player_Active_X.exe", false, "C\\Install_Flash_Player_Active_X.dll", ""},
      {3, "helper.ocx", false, "C\\helper.dll", ""},
      {3, "helper", false, "C\\helper.dll", ""},
      {3, "a.b.c", false, "C\\a.b.dll", ""},
      {4, "impborl.dat", false, "W\\impborl.dll", ""},
      {4, "IMPBORL.DAT", false, "W\\IMPBORL.DAT", ""},
      {7, "impborl.dat", false, "W\\impborl.dat", ""},
      {4, "lic.rtf", false, "W\\lic.rtf", ""},
      {0, "a", false, "", ""}, {8, "a", false, "", ""}, {9, "a", false, "", ""},
      {11, "a", false, "", ""}, {-1, "a", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + c.name);
    ItemDestination d = itemDestination(c.type, c.name, f, c.is64);
    EXPECT_EQ(d.hasDestination, !c.path.empty());
    EXPECT_EQ(d.path, c.path);
    EXPECT_EQ(d.sysnativePath, c.sysnative);
  }
  // An unknown native folder gives no second copy rather than a relative path.
  const InstallFolders noNative{"W\\", "S\\", "Y\\", "", "C\\"};
  ItemDestination d = itemDestination(2, "Fish.scr", noNative, true);
  EXPECT_EQ(d.path, "Y\\Fish.scr");
  EXPECT_EQ(d.sysnativePath, "");
}

TEST(PackageFormat, PreviewNames) {
  struct Case {
    std::uint8_t mode;
    std::string name;
    std::string expected;
  };
  const std::string n255(255, 'p');
  const Case cases[] = {
      {1, "preview.png", "preview.BMP"},
      {1, "preview", "preview.BMP"},
      {1, "a.b.gif", "a.b.BMP"},
      {1, ".bmp", ".BMP"},
      {8, "preview.png", "preview.jpg"},
      {8, "preview.JPG", "preview.jpg"},
      {8, "shot", "shot.jpg"},
      {2, "installer.swf", "installer.swf"},
      {3, "x.png", "x.png"},
      {4, "x.png", "x.png"},
      {0, "x.png", "x.png"},
      {1, n255, std::string(251, 'p') + ".BMP"},   // the base is cut, not the extension
      {8, std::string(251, 'p') + ".jpeg", std::string(251, 'p') + ".jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + c.name);
    EXPECT_EQ(previewFileName(c.mode, c.name), c.expected);
  }
}

TEST(ByteReader, StickyOverrun) {
  const std::uint8_t data[] = {1, 2, 3, 4, 5, 6};
  ByteReader r(data, sizeof data);
  EXPECT_EQ(r.u16(), 0x0201);
  EXPECT_EQ(r.u32(), 0x06050403u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u8(), 0);
  EXPECT_TRUE(r.failed());
  r.seek(0);  // no recovery once failed
  EXPECT_EQ(r.u8(), 0);
  EXPECT_TRUE(r.bytes(1).empty());
  EXPECT_EQ(r.remaining(), 0u);

  ByteReader big(data, sizeof data);
  big.skip(2);
  EXPECT_TRUE(big.bytes(SIZE_MAX).empty());  // a huge count must not wrap
  EXPECT_TRUE(big.failed());
  EXPECT_EQ(big.position(), 2u);
}

}  // namespace
