#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/package_format.h"
#include "tools/saverpack/build.h"
#include "tools/saverpack/codec.h"
#include "tools/saverpack/inspect.h"
#include "tools/saverpack/manifest.h"
#include "tools/saverpack/support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using saverpack::Bytes;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

Bytes readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, const Bytes& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                           static_cast<std::streamsize>(data.size()));
}

// A temporary folder with a complete set of inputs and a manifest naming
// them; each test edits the manifest or the files and builds.
class SaverpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("saverpack_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Bytes stub(INSTALLER_SIZE_IN_BYTES2, 0);
    stub[0] = 'M';
    stub[1] = 'Z';
    writeFile(dir_ / "stub.exe", stub);
    writeFile(dir_ / "impborl.dll", text("MZ library"));
    writeFile(dir_ / "movie.swf", {'F', 'W', 'S', 9, 15, 0, 0, 0, 0, 0, 0x0C, 1, 0, 0, 0});
    writeFile(dir_ / "license.rtf", text("{\\rtf1 license}"));
    writeFile(dir_ / "readme.txt", text("read me"));
    writeFile(dir_ / "saver.scr", text("MZ saver program"));
    writeFile(dir_ / "seven.ini", text("seven"));
    writeFile(dir_ / "nine.txt", text("nine"));
    writeFile(dir_ / "ten.txt", text("ten"));
    std::string prose;
    for (int i = 0; i < 200; ++i) prose += "the quick brown fox jumps over the lazy dog " + std::to_string(i % 7) + "\n";
    writeFile(dir_ / "data" / "story.txt", text(prose));
    writeFile(dir_ / "data" / "random.bin", noise(3000, 1));
    writeFile(dir_ / "data" / "sub" / "deeper" / "b.txt", text(prose.substr(0, 500)));
    writeFile(dir_ / "data" / "sub" / "a.txt", text("short"));
    manifest_ = {
        {"saverName", "Test Saver"},
        {"previewMode", "movie"},
        {"preview", "movie.swf"},
        {"license", "license.rtf"},
        {"readMe", "readme.txt"},
        {"saver", "saver.scr"},
        {"items", {{"7", "seven.ini"}, {"9", "nine.txt"}, {"10", {{"file", "ten.txt"}, {"itemType", 5}}}}},
        {"dataFolder", "data"},
        {"offerControlPanel", true},
        {"implodeLibrary", "impborl.dll"},
        {"stub", "stub.exe"},
    };
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Builds `out` from the current manifest; returns the error ("" on success).
  std::string build(const fs::path& out, saverpack::BuildReport* report = nullptr) {
    std::ofstream(dir_ / "m.json") << manifest_.dump(2);
    saverpack::BuildSettings s;
    s.manifest = dir_ / "m.json";
    s.output = out;
    s.toolFolder = dir_ / "nowhere";
    saverpack::BuildReport r;
    std::string error;
    bool ok = saverpack::buildInstaller(s, r, error);
    EXPECT_EQ(ok, error.empty()) << error;
    if (report) *report = r;
    return error;
  }

  // No temporary file of the packager is left in the folder.
  bool noTempFiles() const {
    for (const auto& e : fs::recursive_directory_iterator(dir_))
      if (e.path().string().find(".saverpack-") != std::string::npos) return false;
    return true;
  }

  fs::path dir_;
  json manifest_;
};

TEST_F(SaverpackTest, BuildsAnInstallerThatInspectsConsistent) {
  fs::path out = dir_ / "Setup.exe";
  saverpack::BuildReport report;
  ASSERT_EQ(build(out, &report), "");
  EXPECT_EQ(report.installerSize, fs::file_size(out));
  Bytes file = readFile(out);
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 2, "MZ"));

  saverpack::InspectReport r = saverpack::inspectInstaller(out);
  for (const std::string& p : r.problems) ADD_FAILURE() << p;
  EXPECT_EQ(r.trailer, TrailerCheck::Valid);
  ASSERT_TRUE(r.header);
  const PackageHeader& h = *r.header;
  EXPECT_EQ(h.installerMode, 2);
  EXPECT_EQ(h.saverName, "Test Saver");
  EXPECT_EQ(h.hasLicense + h.hasReadMe + h.offerControlPanel, 3);
  EXPECT_EQ(h.hasFlashAXInstaller, 0);
  struct Expected { int index; const char* name; int type; };
  for (Expected e : {Expected{1, "impborl.dat", 4}, {3, "installer.swf", 7}, {4, "license.rtf", 7},
                     {5, "readme.txt", 7}, {6, "Test Saver.scr", 2}, {7, "seven.ini", 1},
                     {8, "saverdata.bin", 7}, {9, "nine.txt", 1}, {10, "ten.txt", 5}}) {
    const PackageItem& it = h.items[static_cast<std::size_t>(e.index)];
    EXPECT_EQ(it.fileName, e.name) << e.index;
    EXPECT_EQ(it.itemType, e.type) << e.index;
    EXPECT_EQ(it.isCompressed, 0) << e.index;
  }
  EXPECT_FALSE(h.items[2].present());
  const PackageItem& lib = h.items[1];
  EXPECT_EQ(Bytes(file.begin() + lib.startOffset, file.begin() + lib.endOffset + 1), text("MZ library"));

  // Sub-folders become backslash-separated names, sorted.
  std::vector<std::string> names;
  for (const auto& m : r.members) names.push_back(m.entry.entryName);
  EXPECT_EQ(names, (std::vector<std::string>{"random.bin", "story.txt", "sub\\a.txt", "sub\\deeper\\b.txt"}));
  ASSERT_TRUE(r.record);
  EXPECT_EQ(r.record->fileCount(), 4);
  EXPECT_EQ(r.record->mainFileSource(), 0);
}

TEST_F(SaverpackTest, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(build(dir_ / "a.exe"), "");
  ASSERT_EQ(build(dir_ / "b.exe"), "");
  EXPECT_EQ(readFile(dir_ / "a.exe"), readFile(dir_ / "b.exe"));
}

TEST_F(SaverpackTest, AutoImplodesOnlyWhenSmallerAndRulesOverride) {
  writeFile(dir_ / "data" / "more" / "noise.dat", noise(2000, 2));
  manifest_["compressionRules"] = {{{"match", "sub/*"}, {"compression", "store"}},
                                   {{"match", "MORE\\*.DAT"}, {"compression", "implode"}}};
  saverpack::BuildReport report;
  ASSERT_EQ(build(dir_ / "Setup.exe", &report), "");
  std::map<std::string, bool> imploded;
  for (const auto& m : report.members) imploded[m.name] = m.imploded;
  EXPECT_EQ(imploded, (std::map<std::string, bool>{{"more\\noise.dat", true},   // forced, though larger
                                                   {"random.bin", false},       // auto: would grow
                                                   {"story.txt", true},         // auto: shrinks
                                                   {"sub\\a.txt", false},       // rule: store
                                                   {"sub\\deeper\\b.txt", false}}));
  saverpack::InspectReport r = saverpack::inspectInstaller(dir_ / "Setup.exe");
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  for (const auto& m : r.members) {
    ASSERT_TRUE(m.header);
    EXPECT_EQ(m.header->isImploded != 0, imploded[m.entry.entryName]) << m.entry.entryName;
    if (m.header->isImploded) {
      ASSERT_TRUE(m.expandedSize);
      EXPECT_EQ(*m.expandedSize, static_cast<std::uint64_t>(m.header->fileSize));
    }
  }
}

TEST_F(SaverpackTest, CompressedItemsExpandToTheirRecordedSize) {
  manifest_["readMe"] = {{"file", "readme.txt"}, {"compression", "implode"}};
  writeFile(dir_ / "empty.txt", {});
  manifest_["items"]["9"] = {{"file", "empty.txt"}, {"compression", "implode"}};  // stored, it could not be extracted
  ASSERT_EQ(build(dir_ / "Setup.exe"), "");
  saverpack::InspectReport r = saverpack::inspectInstaller(dir_ / "Setup.exe");
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_EQ(r.header->items[5].isCompressed, 1);
  EXPECT_EQ(r.header->items[5].expandedSize, 7);
  EXPECT_EQ(r.header->items[9].isCompressed, 1);
  EXPECT_EQ(r.header->items[9].expandedSize, 0);
}

TEST_F(SaverpackTest, MainFromPreviewMakesEntryOneACopy) {
  manifest_["mainFromPreview"] = true;
  manifest_["mainFileName"] = "Test Saver.swf";
  Bytes record(kSaverDataRecordSize, 0x5A);
  writeFile(dir_ / "record.bin", record);
  manifest_["saverRecord"] = "record.bin";
  ASSERT_EQ(build(dir_ / "Setup.exe"), "");
  saverpack::InspectReport r = saverpack::inspectInstaller(dir_ / "Setup.exe");
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  ASSERT_EQ(r.members.size(), 5u);
  EXPECT_TRUE(r.members[0].copy);
  EXPECT_EQ(r.members[0].entry.entryKind, kEntryKindCopy);
  EXPECT_EQ(r.members[0].entry.entryName, "Test Saver.swf");
  ASSERT_TRUE(r.record);
  EXPECT_EQ(r.record->mainFileSource(), kMainFileFromPreview);
  EXPECT_EQ(r.record->fileCount(), 5);
  EXPECT_EQ(r.record->bytes[0], 0x5A);  // the rest of the record is kept
  EXPECT_EQ(r.record->bytes[kSaverDataRecordSize - 1], 0x5A);
}

TEST_F(SaverpackTest, QuietAndJpegModes) {
  writeFile(dir_ / "pic.jpeg", {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3});
  manifest_["previewMode"] = "jpeg";
  manifest_["preview"] = "pic.jpeg";
  ASSERT_EQ(build(dir_ / "jpeg.exe"), "");
  saverpack::InspectReport j = saverpack::inspectInstaller(dir_ / "jpeg.exe");
  EXPECT_TRUE(j.problems.empty());
  EXPECT_EQ(j.header->installerMode, 8);
  EXPECT_EQ(j.header->items[3].fileName, "pic.jpeg");  // the installer writes it as pic.jpg

  manifest_["previewMode"] = "quiet";
  manifest_.erase("preview");
  manifest_.erase("license");
  ASSERT_EQ(build(dir_ / "quiet.exe"), "");
  saverpack::InspectReport q = saverpack::inspectInstaller(dir_ / "quiet.exe");
  EXPECT_TRUE(q.problems.empty());
  EXPECT_EQ(q.header->installerMode, 4);
  EXPECT_FALSE(q.header->items[3].present());
  // Deployment needs the switches: each one the installer reads is listed.
  for (const char* form : {"/q", "/qn", "/log=<path>", "/l=<window>"})
    EXPECT_NE(std::find_if(q.lines.begin(), q.lines.end(),
                           [&](const std::string& l) { return l.rfind(std::string("  ") + form + " ", 0) == 0; }),
              q.lines.end())
        << form;
}

// Every bad input gives its own one-line error naming the file or key, and
// leaves neither an output nor a temporary file.
TEST_F(SaverpackTest, BadInputsFailCleanly) {
  struct Case {
    const char* what;
    std::function<void(json&, const fs::path&)> change;
    const char* message;
  };
  const Case cases[] = {
      {"missing file", [](json& m, const fs::path&) { m["readMe"] = "nope.txt"; }, "nope.txt: no such file"},
      {"saver name over 64",
       [](json& m, const fs::path&) { m["saverName"] = std::string(65, 'x'); }, "65 characters long, over the 64"},
      {"saver name not a folder name", [](json& m, const fs::path&) { m["saverName"] = "a/b"; },
       "not a valid saver name: it contains the character '/'"},
      {"saver name a device", [](json& m, const fs::path&) { m["saverName"] = "nul"; }, "reserved device name"},
      {"item name over 255",
       [](json& m, const fs::path&) { m["items"]["7"] = {{"file", "seven.ini"}, {"name", std::string(256, 'n')}}; },
       "256 characters long, over the 255"},
      {"unsafe item name",
       [](json& m, const fs::path&) { m["items"]["9"] = {{"file", "nine.txt"}, {"name", "CON.txt"}}; },
       "items.9: the name \"CON.txt\" is a reserved device name"},
      {"unsafe entry name", [](json&, const fs::path& d) { writeFile(d / "data" / "bad. ", text("x")); },
       "ends with a dot or a space"},
      {"entry name over 255",
       [](json&, const fs::path& d) {
         writeFile(d / "data" / std::string(100, 'a') / std::string(100, 'b') / std::string(60, 'c'), text("x"));
       },
       "the entry name is 262 characters long"},
      {"more than 1010 data files",
       [](json&, const fs::path& d) {
         for (int i = 0; i < 1008; ++i) writeFile(d / "data" / "many" / std::to_string(i), text("x"));
       },
       "more than 1010 data file entries"},
      {"stub of the wrong size",
       [](json&, const fs::path& d) { writeFile(d / "stub.exe", Bytes(INSTALLER_SIZE_IN_BYTES2 - 1, 'M')); },
       "the stub is 691199 bytes; it must be exactly 691200"},
      {"package over 2 GiB",
       [](json& m, const fs::path& d) {
         for (const char* n : {"big1", "big2"}) {
           std::ofstream(d / n).put('x');
           fs::resize_file(d / n, std::uint64_t{1} << 30);  // sparse: nothing is read
         }
         m["items"]["7"] = "big1";
         m["items"]["9"] = "big2";
       },
       "over the 2 GiB limit"},
      {"file over 2 GiB",
       [](json&, const fs::path& d) {
         std::ofstream(d / "data" / "huge").put('x');
         fs::resize_file(d / "data" / "huge", std::uint64_t{1} << 31);
       },
       "too large for an installer"},
      {"unknown key", [](json& m, const fs::path&) { m["licence"] = "license.rtf"; }, "licence: unknown key"},
      {"missing item 10", [](json& m, const fs::path&) { m["items"].erase("10"); }, "items.10: missing"},
      {"bad item type",
       [](json& m, const fs::path&) { m["items"]["7"] = {{"file", "seven.ini"}, {"itemType", 8}}; },
       "8 has no destination"},
      {"mainFromPreview without a movie",
       [](json& m, const fs::path& d) {
         writeFile(d / "p.jpg", {0xFF, 0xD8, 0xFF});
         m["previewMode"] = "jpeg";
         m["preview"] = "p.jpg";
         m["mainFromPreview"] = true;
       },
       "mainFromPreview: entry 1 is copied from the movie preview"},
      {"preview that is not a movie", [](json& m, const fs::path&) { m["preview"] = "readme.txt"; },
       "not a SWF movie"},
      {"names equal but for case", [](json&, const fs::path& d) { writeFile(d / "data" / "STORY.TXT", text("x")); },
       "are both written as <saver>\\story.txt"},
      {"item and entry collide", [](json&, const fs::path& d) { writeFile(d / "data" / "seven.ini", text("x")); },
       "both written as <saver>\\seven.ini"},
      {"file where a folder must be", [](json&, const fs::path& d) { writeFile(d / "data" / "SUB", text("x")); },
       "is a file where"},
      {"saver record of the wrong size",
       [](json& m, const fs::path& d) {
         writeFile(d / "rec.bin", Bytes(100, 0));
         m["saverRecord"] = "rec.bin";
       },
       "the saver record is 100 bytes"},
      {"empty stored item",
       [](json& m, const fs::path& d) {
         writeFile(d / "empty.txt", {});
         m["items"]["7"] = "empty.txt";
       },
       "cannot extract an empty stored item"},
      {"invalid JSON", [](json&, const fs::path&) {}, "invalid JSON"},
  };
  const json original = manifest_;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    fs::path out = dir_ / "Setup.exe";
    writeFile(out, text("earlier build"));
    c.change(manifest_, dir_);
    std::string error;
    if (std::string(c.what) == "invalid JSON") {
      writeFile(dir_ / "m.json", text("{\"saverName\": }"));
      saverpack::BuildSettings s;
      s.manifest = dir_ / "m.json";
      s.output = out;
      saverpack::BuildReport r;
      EXPECT_FALSE(saverpack::buildInstaller(s, r, error));
    } else {
      error = build(out);
    }
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(readFile(out), text("earlier build"));  // the earlier output is untouched
    EXPECT_TRUE(noTempFiles());
    manifest_ = original;
  }
}

// Inspect finds damage the installer's size checks would meet only during
// an installation.
TEST_F(SaverpackTest, InspectReportsDamage) {
  fs::path out = dir_ / "Setup.exe";
  ASSERT_EQ(build(out), "");
  const Bytes good = readFile(out);
  saverpack::InspectReport r = saverpack::inspectInstaller(out);
  ASSERT_TRUE(r.problems.empty());
  const PackageHeader h = *r.header;
  std::uint32_t dataStart = static_cast<std::uint32_t>(h.items[8].startOffset);
  const saverpack::InspectedMember* story = nullptr;
  for (const auto& m : r.members)
    if (m.entry.entryName == "story.txt") story = &m;
  ASSERT_TRUE(story && story->header && story->header->isImploded);
  std::uint32_t storyData = dataStart + static_cast<std::uint32_t>(story->entry.dataOffset) + kMemberHeaderSize;

  struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
    const char* problem;
  };
  auto itemField = [](int k, std::size_t field) { return INSTALLER_SIZE_IN_BYTES2 + itemRecordOffset(k) + field; };
  const Damage damages[] = {
      {"a flipped byte", [&](Bytes& f) { f[storyData + 5] ^= 0x40; }, "trailer does not match"},
      {"a wrong member size",
       [&](Bytes& f) { storeLe32(&f[storyData - kMemberHeaderSize + kMemberFileSizeField], 99); },
       "the recorded 99 bytes"},
      {"an item past the end",
       [&](Bytes& f) { storeLe32(&f[itemField(10, kItemEndOffsetField)], 0x7FFFFFF0); }, "past the end"},
      {"an item in the header",
       [&](Bytes& f) { storeLe32(&f[itemField(9, kItemStartOffsetField)], 100); }, "inside the stub or header"},
      {"an absent item 7", [&](Bytes& f) { f[itemField(7, 0)] = 0; }, "item 7 (a further file) is absent"},
      {"a dangerous entry name",
       [&](Bytes& f) {
         std::size_t at = dataStart + kSaverDataRecordSize + kEntryNameField;  // entry 1
         const char evil[] = "..\\evil.bin";
         std::copy(evil, evil + sizeof evil, f.begin() + static_cast<std::ptrdiff_t>(at));
       },
       "not a safe file name"},
      {"a cut file", [&](Bytes& f) { f.resize(f.size() - 40); }, "past the end"},
      {"a stub only", [&](Bytes& f) { f.resize(INSTALLER_SIZE_IN_BYTES2); }, "too short"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    Bytes bad = good;
    d.apply(bad);
    writeFile(out, bad);
    saverpack::InspectReport damaged = saverpack::inspectInstaller(out);
    std::string all;
    for (const std::string& p : damaged.problems) all += p + "\n";
    EXPECT_NE(all.find(d.problem), std::string::npos) << all;
  }
}

// Names are written in the chosen code page and read back in it; a name it
// cannot hold is refused naming the field.
TEST_F(SaverpackTest, NamesInTheChosenCodePage) {
  const std::string hyouji = "\xE8\xA1\xA8\xE7\xA4\xBA";  // 表示: 95 5C 8E A6 in 932
  manifest_["saverName"] = hyouji;
  manifest_["codePage"] = 932;
  writeFile(dir_ / "data" / "\xE3\x82\xBD.txt", text("so"));  // ソ: 83 5C
  fs::path out = dir_ / "Setup.exe";
  ASSERT_EQ(build(out), "");
  Bytes file = readFile(out);
  PackageHeader raw = *parsePackageHeader(std::span(file).subspan(INSTALLER_SIZE_IN_BYTES2));
  EXPECT_EQ(raw.saverName, "\x95\x5C\x8E\xA6");
  EXPECT_EQ(raw.items[6].fileName, "\x95\x5C\x8E\xA6.scr");

  saverpack::InspectReport r = saverpack::inspectInstaller(out, 932);
  for (const std::string& p : r.problems) ADD_FAILURE() << p;
  ASSERT_TRUE(r.header);
  EXPECT_EQ(r.header->saverName, hyouji);
  bool found = false;
  for (const auto& m : r.members) found |= m.entry.entryName == "\xE3\x82\xBD.txt";
  EXPECT_TRUE(found);
  // Read in 1252, the same bytes hold a backslash: the installer would refuse them.
  saverpack::InspectReport western = saverpack::inspectInstaller(out, 1252);
  EXPECT_FALSE(western.problems.empty());

  // The command line's choice wins over the manifest's.
  saverpack::BuildSettings s;
  std::ofstream(dir_ / "m.json") << manifest_.dump(2);
  s.manifest = dir_ / "m.json";
  s.output = dir_ / "Western.exe";
  s.toolFolder = dir_ / "nowhere";
  s.codePage = 1252;
  saverpack::BuildReport report;
  std::string error;
  EXPECT_FALSE(saverpack::buildInstaller(s, report, error));
  EXPECT_NE(error.find("saverName: "), std::string::npos) << error;
  EXPECT_NE(error.find("outside Windows code page 1252"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "Western.exe"));

  fs::remove(dir_ / "data" / "\xE3\x82\xBD.txt");
  manifest_["saverName"] = "\xC5\x81ukasz";  // Ł: in 1250, not in 1252
  manifest_["codePage"] = 1250;
  EXPECT_EQ(build(out), "");
  manifest_.erase("codePage");
  EXPECT_NE(build(out).find("saverName: "), std::string::npos);
  manifest_["codePage"] = 65001;
  EXPECT_NE(build(out).find("codePage: "), std::string::npos);
}

TEST_F(SaverpackTest, ImplodeAndExplodeFiles) {
  Bytes data = readFile(dir_ / "data" / "story.txt");
  saverpack::CodecReport rep;
  std::string error;
  ASSERT_TRUE(saverpack::implodeFile(dir_ / "data" / "story.txt", dir_ / "s.imp", ImplodeLiteralMode::Ascii,
                                     ImplodeDictionary::Size2048, {}, rep, error))
      << error;
  EXPECT_LT(rep.outputSize, rep.inputSize);
  Bytes packed = readFile(dir_ / "s.imp");
  EXPECT_EQ(packed[0], 1);  // ASCII literals
  EXPECT_EQ(packed[1], 5);  // 2048-byte dictionary
  ASSERT_TRUE(saverpack::explodeFile(dir_ / "s.imp", dir_ / "s.txt", rep, error)) << error;
  EXPECT_EQ(readFile(dir_ / "s.txt"), data);

  packed.resize(packed.size() / 2);
  writeFile(dir_ / "cut.imp", packed);
  EXPECT_FALSE(saverpack::explodeFile(dir_ / "cut.imp", dir_ / "cut.txt", rep, error));
  EXPECT_NE(error.find("cut.imp: not valid implode data"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir_ / "cut.txt"));
  EXPECT_TRUE(noTempFiles());
}

TEST(SaverpackText, AnsiConversion) {
  struct Case { std::string utf8; std::optional<std::string> ansi; };
  const Case cases[] = {
      {"Plain", "Plain"},
      {"Bl\xC3\xBCmchen", "Bl\xFCmchen"},     // ü
      {"\xE2\x82\xAC 5", "\x80 5"},            // € is 0x80 in code page 1252
      {"\xC5\xA0koda", "\x8Akoda"},            // Š
      {"\xE6\x97\xA5", std::nullopt},          // outside the code page
      {"\xC0\xAF", std::nullopt},              // overlong '/'
      {"\xC3", std::nullopt},                  // cut short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(saverpack::ansiFromUtf8(c.utf8), c.ansi) << c.utf8;
    if (c.ansi) {
      EXPECT_EQ(saverpack::utf8FromAnsi(*c.ansi), c.utf8);
    }
  }
  EXPECT_EQ(saverpack::foldCaseAnsi("abc\xFC\x9A"), "ABC\xDC\x8A");

  // Bytes that are no text in the code page are shown, not dropped.
  saverpack::setNameCodePage(932);
  EXPECT_EQ(saverpack::utf8FromAnsi("a\x82"), "a\xEF\xBF\xBD");     // a lead byte without its trail
  EXPECT_EQ(saverpack::utf8FromAnsi("\x95\\x"), "\xE8\xA1\xA8x");  // a trail byte 0x5C is no backslash
  saverpack::setNameCodePage(saverpack::kDefaultNameCodePage);
}

TEST(SaverpackText, WildcardMatching) {
  struct Case { const char* pattern; const char* name; bool match; };
  const Case cases[] = {
      {"*.jpg", "a.jpg", true},         {"*.jpg", "sub\\a.JPG", true}, {"*.jpg", "a.jpeg", false},
      {"sub\\*", "sub\\x\\y.bin", true}, {"sub\\*", "other\\x", false}, {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},        {"*a*b*", "xxaxxbxx", true},   {"*a*b", "xxaxxbxxc", false},
      {"", "", true},                    {"*", "anything", true},
  };
  for (const Case& c : cases) EXPECT_EQ(saverpack::matchesPattern(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

}  // namespace
