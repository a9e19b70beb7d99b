// Damaged and hostile installers (see hostile_generator.h).
#include "tests/win/support/hostile_generator.h"

#include "base/code_page.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <set>
#include <utility>

#include <zlib.h>

#include "base/byte_reader.h"
#include "base/package_format.h"
#include "package/trailer.h"

namespace hostile {
namespace {

constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

constexpr const char* kFlashName = "install_flash_player_active_x.exe";

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::int64_t sizeOf(const Bytes& b) { return static_cast<std::int64_t>(b.size()); }

// Text that implodes well but not trivially.
Bytes sampleText(std::size_t n, const std::string& words) {
  std::string s;
  for (std::size_t i = 0; s.size() < n; ++i) s += words + std::to_string(i % 97) + ' ';
  s.resize(n);
  return bytesOf(s);
}

// xorshift32: the same bytes for the same seed on every platform.
Bytes randomBytes(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

void poke32(Bytes& bytes, std::uint64_t at, std::int32_t value) {
  if (at + 4 <= bytes.size()) storeLe32(bytes.data() + at, static_cast<std::uint32_t>(value));
}

// Where the stub's linked image ends (the end of its last section's data) and
// the padding to the stub size begins; 0 when the headers cannot be read.
std::uint64_t linkedImageEnd(const Bytes& stub) {
  if (stub.size() < 0x40) return 0;
  std::uint64_t pe = loadLe32(stub.data() + 0x3C);
  if (pe + 24 > stub.size()) return 0;
  std::uint32_t sections = loadLe16(stub.data() + pe + 6);
  std::uint64_t table = pe + 24 + loadLe16(stub.data() + pe + 20);
  std::uint64_t end = 0;
  for (std::uint32_t i = 0; i < sections && table + 40 * (i + 1) <= stub.size(); ++i) {
    const std::uint8_t* section = stub.data() + table + 40 * i;
    end = std::max<std::uint64_t>(end, std::uint64_t{loadLe32(section + 20)} + loadLe32(section + 16));
  }
  return end;
}

Bytes truncated(const Bytes& bytes, std::uint64_t size) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(size, bytes.size())));
}

std::uint64_t itemFieldAt(int index, std::size_t field) {
  return std::uint64_t{INSTALLER_SIZE_IN_BYTES2} + itemRecordOffset(index) + field;
}

// One data file entry of a recipe.
struct EntrySpec {
  enum Kind { Stored, Imploded, Copy, Raw } kind = Stored;
  std::string name;
  Bytes content;        // the file as installed (Stored, Imploded)
  MemberHeader header;  // Raw: as given
  Bytes raw;            // Raw: the member's data bytes as given
};

// Everything a case may change before the installer is built.
struct Recipe {
  std::string saverName = kSaverName;
  Bytes preview;  // empty: the builder's minimal movie
  std::vector<EntrySpec> entries;
  std::int32_t mainFileSource = 0;
  std::function<void(PackageBuilder&)> tweak;          // after the defaults
  std::function<void(Bytes&)> editDataFile;            // on the built data file
  bool trailer = false;
};

struct Built {
  Bytes installer;
  PackageHeader header;
  Bytes dataFile;
  DataFileLayout layout;
  std::uint64_t dataStart = 0;  // item 8's offset in the installer
};

void removeFile(std::vector<ExpectedFile>& files, const std::string& path) {
  std::erase_if(files, [&](const ExpectedFile& f) { return f.path == path; });
}

void setFile(std::vector<ExpectedFile>& files, const std::string& path, std::int64_t size) {
  removeFile(files, path);
  files.push_back({path, size});
}

class Generator {
public:
  Generator(std::span<const std::uint8_t> stub, const CompressFn& implode, unsigned codePage)
      : stub_(stub), implode_(implode), codePage_(codePage) {
    extra7_ = sampleText(3000, "seventh item, compressed");
    big_ = sampleText(5043, "the quick brown fox jumps over the lazy dog");
    mainSwf_ = bytesOf("FWS\x09");
    mainSwf_.resize(200, 'm');
    notes_ = bytesOf("nested file in a subfolder");
    base_.entries = {
        {EntrySpec::Stored, "main.swf", mainSwf_, {}, {}},
        {EntrySpec::Stored, "sub\\deeper\\notes.txt", notes_, {}, {}},
        {EntrySpec::Imploded, "big.txt", big_, {}, {}},
        {EntrySpec::Copy, "copy of main.swf", {}, {}, {}},
        {EntrySpec::Stored, "tail.bin", sampleText(100, "tail"), {}, {}},
    };
    good_ = build(base_);
  }

  std::vector<HostileCase> run() {
    controls();
    truncations();
    itemFields();
    dataFileFields();
    overlaps();
    itemNames();
    entryNames();
    saverNames();
    doubleByteNames();
    itemTypes();
    implodedData();
    movies();
    flashInstaller();
    trailer();
    absentItems();
    return std::move(cases_);
  }

private:
  // ---- building ------------------------------------------------------------

  Built build(const Recipe& r) const {
    DataFileBuilder data;
    for (const EntrySpec& e : r.entries) {
      switch (e.kind) {
        case EntrySpec::Stored: data.add(e.name, e.content); break;
        case EntrySpec::Imploded: data.addImploded(e.name, e.content, implode_); break;
        case EntrySpec::Copy: data.addCopy(e.name); break;
        case EntrySpec::Raw: data.addMember(e.name, e.header, e.raw); break;
      }
    }
    data.mainFileSource(r.mainFileSource);
    Built b;
    b.dataFile = data.build(&b.layout);
    if (r.editDataFile) r.editDataFile(b.dataFile);

    PackageBuilder p;
    p.mode(2).saverName(r.saverName).offerControlPanel(true);
    p.flashInstaller(kFlashName, bytesOf("MZ flash player installer placeholder"), 0);
    if (!r.preview.empty()) p.preview("installer.swf", r.preview);
    p.license("license.txt", bytesOf("license terms"));
    p.readMe("readme.txt", readMe_);
    p.item(6, kProgramName, 2, program_);
    p.compressedItem(7, "extra7.txt", 1, extra7_, implode_);
    p.item(8, "saverdata.bin", 7, b.dataFile);
    p.item(9, "extra9.bin", 1, extra9_);
    p.item(10, "extra10.bin", 10, extra10_);
    if (r.tweak) r.tweak(p);
    b.header = p.header();
    b.installer = p.build(stub_, BuildOptions{r.trailer});
    b.dataStart = static_cast<std::uint64_t>(b.header.items[8].startOffset);
    return b;
  }

  // The files a complete install of the recipe leaves (items as the base has them).
  HostileCase expectation(const Recipe& r) const {
    HostileCase c;
    c.saverName = r.saverName;
    std::int64_t mainSize = 0;
    for (std::size_t i = 0; i < r.entries.size(); ++i) {
      const EntrySpec& e = r.entries[i];
      std::int64_t size = static_cast<std::int64_t>(e.content.size());
      if (i == 0 && r.mainFileSource == kMainFileFromPreview) size = static_cast<std::int64_t>(r.preview.size());
      if (e.kind == EntrySpec::Copy) size = mainSize;
      if (e.kind == EntrySpec::Raw) size = e.header.fileSize;
      if (i == 0) mainSize = size;
      if (!e.name.empty() && size != 0) c.saverFiles.push_back({e.name, size});
    }
    c.saverFiles.push_back({"extra7.txt", sizeOf(extra7_)});
    c.saverFiles.push_back({"extra9.bin", sizeOf(extra9_)});
    c.saverFiles.push_back({"extra10.bin", sizeOf(extra10_)});
    c.saverFiles.push_back({"readme.txt", sizeOf(readMe_)});
    c.saverFiles.push_back({"saver.dat", static_cast<std::int64_t>(kSaverDataRecordSize)});
    c.systemFiles.push_back({kProgramName, sizeOf(program_)});
    return c;
  }

  // ---- recording -----------------------------------------------------------

  // Refused with any error code of the product, nothing left behind.  Which
  // check notices a damage first is the product's own business; only the
  // integrity trailer's refusal has a code of its own to pin
  // (refusedByChecksum).
  void refused(const std::string& family, const std::string& detail, Bytes installer, bool mayNotStart = false,
               ErrorCode code = 0) {
    HostileCase c;
    c.family = family;
    c.name = family + "/" + detail;
    c.installer = std::move(installer);
    c.outcome = Outcome::Refused;
    c.code = code;
    c.mayNotStart = mayNotStart;
    c.saverName = kSaverName;
    cases_.push_back(std::move(c));
  }

  void installs(const std::string& family, const std::string& detail, Bytes installer, HostileCase expected,
                Outcome outcome = Outcome::Installs) {
    expected.family = family;
    expected.name = family + "/" + detail;
    expected.installer = std::move(installer);
    expected.outcome = outcome;
    cases_.push_back(std::move(expected));
  }

  void refusedByChecksum(const std::string& family, const std::string& detail, Bytes installer) {
    refused(family, detail, std::move(installer), false, errChecksumMismatch);
  }

  HostileCase baseExpectation() const { return expectation(base_); }

  // The good installer with one 32-bit field of its own bytes changed.
  Bytes poked(std::uint64_t at, std::int32_t value) const {
    Bytes b = good_.installer;
    poke32(b, at, value);
    return b;
  }

  Recipe with(std::function<void(PackageBuilder&)> tweak) const {
    Recipe r = base_;
    r.tweak = std::move(tweak);
    return r;
  }

  // ---- families ------------------------------------------------------------

  void controls() {
    installs("control", "good installer", good_.installer, baseExpectation());
    Recipe r = base_;
    r.trailer = true;
    installs("control", "good installer with trailer", build(r).installer, baseExpectation());
  }

  void truncations() {
    const Bytes& g = good_.installer;
    // The image ends where the padding to the stub size begins (the i686
    // image is the larger one): cut inside it, the file is no program.
    std::uint64_t padding = (linkedImageEnd(g) + INSTALLER_SIZE_IN_BYTES2) / 2;
    refused("truncate", "inside stub PE headers (512)", truncated(g, 512), true);
    refused("truncate", "inside stub code (200000)", truncated(g, 200000), true);
    refused("truncate", "stub padding (" + std::to_string(padding) + ")", truncated(g, padding));
    refused("truncate", "last stub byte (691199)", truncated(g, INSTALLER_SIZE_IN_BYTES2 - 1));
    for (std::uint64_t at : {0ull, 1ull, 72ull, 1000ull, 3151ull})
      refused("truncate", "header +" + std::to_string(at), truncated(g, INSTALLER_SIZE_IN_BYTES2 + at));
    for (int k = 1; k < kPackageItemCount; ++k) {
      const PackageItem& item = good_.header.items[static_cast<std::size_t>(k)];
      std::uint64_t start = static_cast<std::uint64_t>(item.startOffset);
      std::uint64_t size = static_cast<std::uint64_t>(itemStoredSize(item));
      refused("truncate", "at item " + std::to_string(k) + " start", truncated(g, start));
      if (size >= 2)
        refused("truncate", "inside item " + std::to_string(k), truncated(g, start + size / 2));
    }
    // The whole installer cut inside the data file: the item table catches it.
    const DataFileLayout& l = good_.layout;
    std::vector<std::pair<std::string, std::uint64_t>> inData = {
        {"record", 100}, {"entries", kSaverDataRecordSize + 10}};
    for (std::size_t i = 0; i < l.entryOffsets.size(); ++i)
      inData.push_back({"entry " + std::to_string(i + 1), l.entryOffsets[i] + 100});
    for (std::size_t i = 0; i < l.memberOffsets.size(); ++i)
      if (l.memberOffsets[i]) inData.push_back({"member " + std::to_string(i + 1), l.memberOffsets[i] + 20});
    for (const auto& [what, at] : inData)
      refused("truncate", "installer inside data file " + what, truncated(g, good_.dataStart + at));

    // Only the data file cut, the package around it consistent: the install
    // reads a short record, a short table or members past its end.
    std::vector<std::pair<std::string, std::uint64_t>> cuts = {
        {"record", 100},
        {"record end", kSaverDataRecordSize - 1},
        {"before entries", kSaverDataRecordSize},
        {"inside entry 2", l.entryOffsets[1] + 10},
        {"before members", l.memberOffsets[0]},
    };
    for (std::size_t i = 0; i < l.memberOffsets.size(); ++i) {
      if (!l.memberOffsets[i]) continue;
      cuts.push_back({"member " + std::to_string(i + 1) + " header", l.memberOffsets[i] + 20});
      cuts.push_back({"member " + std::to_string(i + 1) + " data", l.memberOffsets[i] + kMemberHeaderSize + 5});
    }
    cuts.push_back({"last byte", good_.dataFile.size() - 1});
    for (const auto& [what, at] : cuts) {
      Recipe r = base_;
      std::uint64_t cut = at;
      r.editDataFile = [cut](Bytes& d) { d.resize(static_cast<std::size_t>(cut)); };
      refused("truncate", "data file only, " + what, build(r).installer);
    }
  }

  void itemFields() {
    const std::int32_t fileSize = static_cast<std::int32_t>(good_.installer.size());
    const std::pair<const char*, std::int32_t> values[] = {
        {"-1", -1}, {"0", 0}, {"1", 1}, {"file size", fileSize}, {"2^31-1", kIntMax}};
    const std::pair<const char*, std::size_t> fields[] = {
        {"startOffset", kItemStartOffsetField}, {"endOffset", kItemEndOffsetField},
        {"expandedSize", kItemExpandedSizeField}};
    for (int k = 1; k < kPackageItemCount; ++k) {
      bool compressed = good_.header.items[static_cast<std::size_t>(k)].isCompressed != 0;
      for (const auto& [fieldName, field] : fields) {
        for (const auto& [valueName, value] : values) {
          std::string detail = "item " + std::to_string(k) + " " + fieldName + " = " + valueName;
          Bytes b = poked(itemFieldAt(k, field), value);
          if (field == kItemExpandedSizeField && !compressed)
            installs("item-field", detail, std::move(b), baseExpectation());  // not read for stored items
          else
            refused("item-field", detail, std::move(b));
        }
      }
    }
  }

  void dataFileFields() {
    const DataFileLayout& l = good_.layout;
    const std::int32_t dataSize = static_cast<std::int32_t>(good_.dataFile.size());
    auto at = [&](std::uint64_t offsetInData) { return good_.dataStart + offsetInData; };
    auto values = [&]() {
      return std::vector<std::pair<std::string, std::int32_t>>{
          {"-1", -1}, {"0", 0}, {"1", 1}, {"data file size", dataSize}, {"2^31-1", kIntMax}};
    };

    // fileCount.
    const std::int32_t fitting = (dataSize - static_cast<std::int32_t>(kSaverDataRecordSize)) /
                                 static_cast<std::int32_t>(kDataFileEntrySize);
    HostileCase none = baseExpectation(), first = baseExpectation();
    for (const EntrySpec& e : base_.entries) removeFile(none.saverFiles, e.name);
    for (std::size_t i = 1; i < base_.entries.size(); ++i) removeFile(first.saverFiles, base_.entries[i].name);
    refused("data-field", "fileCount = -1", poked(at(kFileCountField), -1));
    installs("data-field", "fileCount = 0", poked(at(kFileCountField), 0), none);
    installs("data-field", "fileCount = 1", poked(at(kFileCountField), 1), first);
    refused("data-field", "fileCount = data file size", poked(at(kFileCountField), dataSize));
    refused("data-field", "fileCount = 2^31-1", poked(at(kFileCountField), kIntMax));
    refused("data-field", "fileCount = 1011", poked(at(kFileCountField), kMaxFileCount + 1));
    refused("data-field", "fileCount = 1010, past the end", poked(at(kFileCountField), kMaxFileCount));
    refused("data-field", "fileCount one past the end", poked(at(kFileCountField), fitting + 1));
    refused("data-field", "fileCount table over the members",
            poked(at(kFileCountField), static_cast<std::int32_t>(base_.entries.size()) + 1));

    // Each entry's dataOffset (ignored for the copy entry).
    for (std::size_t i = 0; i < base_.entries.size(); ++i) {
      bool copy = base_.entries[i].kind == EntrySpec::Copy;
      for (const auto& [valueName, value] : values()) {
        std::string detail = "entry " + std::to_string(i + 1) + " dataOffset = " + valueName;
        Bytes b = poked(at(l.entryOffsets[i] + kEntryDataOffsetField), value);
        if (copy)
          installs("data-field", detail, std::move(b), baseExpectation());
        else
          refused("data-field", detail, std::move(b));
      }
    }

    // Each member's fileSize, storedSize, isImploded.
    for (std::size_t i = 0; i < base_.entries.size(); ++i) {
      const EntrySpec& e = base_.entries[i];
      if (e.kind == EntrySpec::Copy) continue;
      bool imploded = e.kind == EntrySpec::Imploded;
      std::string who = "member " + std::to_string(i + 1) + " (" + e.name + ") ";
      std::uint64_t member = l.memberOffsets[i];
      for (const auto& [valueName, value] : values()) {
        Bytes b = poked(at(member + kMemberFileSizeField), value);
        std::string detail = who + "fileSize = " + valueName;
        bool fits = member + kMemberHeaderSize + static_cast<std::uint64_t>(value) <= good_.dataFile.size();
        if (value == 0 && i != 0) {  // an empty member writes no file (entry 1's copy would have no source)
          HostileCase x = baseExpectation();
          removeFile(x.saverFiles, e.name);
          installs("data-field", detail, std::move(b), x);
        } else if (value <= 0 || imploded || !fits) {
          refused("data-field", detail, std::move(b));
        } else {
          HostileCase x = baseExpectation();
          setFile(x.saverFiles, e.name, value);
          if (i == 0) setFile(x.saverFiles, "copy of main.swf", value);
          installs("data-field", detail, std::move(b), x);
        }
      }
      for (const auto& [valueName, value] : values()) {
        Bytes b = poked(at(member + kMemberStoredSizeField), value);
        std::string detail = who + "storedSize = " + valueName;
        if (!imploded)
          installs("data-field", detail, std::move(b), baseExpectation());  // not read for stored members
        else
          refused("data-field", detail, std::move(b));
      }
      for (const auto& [valueName, value] : values()) {
        if ((value != 0) == imploded) continue;  // the same meaning as the good file
        Bytes b = poked(at(member + kMemberIsImplodedField), value);
        std::string detail = who + "isImploded = " + valueName;
        // Now stored, fileSize raw bytes run past the end; now imploded, the
        // plain bytes are no implode stream.
        refused("data-field", detail, std::move(b));
      }
      for (std::int32_t value : {-1, kIntMax}) {
        if (!imploded) continue;
        Bytes b = poked(at(member + kMemberIsImplodedField), value);
        installs("data-field", who + "isImploded = " + std::to_string(value) + " (still nonzero)", std::move(b),
                 baseExpectation());
      }
    }
  }

  void overlaps() {
    const PackageHeader& h = good_.header;
    const std::int32_t fileSize = static_cast<std::int32_t>(good_.installer.size());
    auto range = [&](int k, std::int32_t start, std::int32_t end) {
      Bytes b = poked(itemFieldAt(k, kItemStartOffsetField), start);
      poke32(b, itemFieldAt(k, kItemEndOffsetField), end);
      return b;
    };
    auto size = [](std::int32_t start, std::int32_t end) { return std::int64_t{end} - start + 1; };
    const PackageItem &i6 = h.items[6], &i7 = h.items[7], &i8 = h.items[8], &i9 = h.items[9];
    const std::int32_t header = static_cast<std::int32_t>(INSTALLER_SIZE_IN_BYTES2);
    const std::int32_t dataStart = static_cast<std::int32_t>(kPackageDataStart);

    HostileCase x = baseExpectation();
    setFile(x.saverFiles, "extra9.bin", size(i7.startOffset, i7.endOffset));
    installs("overlap", "item 9 = item 7's bytes", range(9, i7.startOffset, i7.endOffset), x);
    refused("overlap", "item 9 = the header", range(9, header, dataStart - 1));
    refused("overlap", "item 9 starts inside the header", range(9, dataStart - 10, i9.endOffset));
    refused("overlap", "item 1 = the header", range(1, header, dataStart - 1));
    x = baseExpectation();
    setFile(x.saverFiles, "extra10.bin", size(dataStart, fileSize - 1));
    installs("overlap", "item 10 = every item's bytes", range(10, dataStart, fileSize - 1), x);
    x = baseExpectation();
    setFile(x.systemFiles, kProgramName, size(i8.startOffset, i8.endOffset));
    installs("overlap", "item 6 = item 8's bytes", range(6, i8.startOffset, i8.endOffset), x);
    refused("overlap", "item 8 = item 6's bytes", range(8, i6.startOffset, i6.endOffset));
    std::int32_t half = i8.startOffset + static_cast<std::int32_t>(good_.dataFile.size() / 2);
    x = baseExpectation();
    setFile(x.saverFiles, "extra9.bin", size(half, i9.endOffset));
    installs("overlap", "item 9 from the middle of item 8", range(9, half, i9.endOffset), x);

    // Entries sharing a member or pointing into the table.
    const DataFileLayout& l = good_.layout;
    auto entryOffset = [&](std::size_t entry, std::uint32_t value) {
      return poked(good_.dataStart + l.entryOffsets[entry] + kEntryDataOffsetField, static_cast<std::int32_t>(value));
    };
    x = baseExpectation();
    setFile(x.saverFiles, "sub\\deeper\\notes.txt", static_cast<std::int64_t>(mainSwf_.size()));
    installs("overlap", "entry 2 shares entry 1's member", entryOffset(1, l.memberOffsets[0]), x);
    x = baseExpectation();
    setFile(x.saverFiles, "big.txt", static_cast<std::int64_t>(mainSwf_.size()));
    installs("overlap", "imploded entry 3 shares stored member 1", entryOffset(2, l.memberOffsets[0]), x);
    refused("overlap", "entry 2's member inside the entry table", entryOffset(1, l.entryOffsets[0]));
    refused("overlap", "entry 2's member inside the record", entryOffset(1, 200));
  }

  // Names that could leave their folder, alias a device or are not names.
  static std::vector<std::pair<std::string, std::string>> badFileNames(const std::string& base) {
    return {
        {"..", ".."},
        {".", "."},
        {"..\\name", "..\\" + base},
        {"sub\\name", "sub\\" + base},
        {"C:name", "C:" + base},
        {"C:\\name", "C:\\" + base},
        {"UNC", "\\\\server\\share\\" + base},
        {"leading backslash", "\\" + base},
        {"CON", "CON"},
        {"NUL.txt", "NUL.txt"},
        {"COM1", "COM1"},
        {"lpt9.log", "lpt9.log"},
        {"nul .txt", "nul .txt"},
        {"trailing dot", base + "."},
        {"trailing space", base + " "},
        {"<", "a<b"},
        {">", "a>b"},
        {"quote", "a\"b"},
        {"|", "a|b"},
        {"?", "a?b"},
        {"*", "a*b"},
        {"/", "a/b"},
        {"colon", "a:b"},
        {"control char", std::string("a\x01") + "b"},
        {"tab", "a\tb"},
    };
  }

  void itemNames() {
    // Every bad name on item 9 (saver folder); a sample on the program (system
    // folder), the read-me (work folder, then copied) and the Flash installer.
    const std::set<std::string> sample = {"..", "..\\name", "C:name", "UNC", "CON", "NUL.txt", "trailing dot", "?"};
    for (int k : {9, 6, 5, 2}) {
      for (const auto& [label, name] : badFileNames("evil.bin")) {
        if (k != 9 && !sample.count(label)) continue;
        std::string n = name;
        Recipe r = with([k, n](PackageBuilder& p) {
          p.editHeader([k, n](PackageHeader& h) { h.items[static_cast<std::size_t>(k)].fileName = n; });
        });
        refused("item-name", "item " + std::to_string(k) + " " + label, build(r).installer);
      }
    }
    // A 255-character name: a path past MAX_PATH, which the file system may take or refuse.
    std::string longName = std::string(251, 'n') + ".bin";
    Recipe r = with([longName](PackageBuilder& p) {
      p.editHeader([longName](PackageHeader& h) { h.items[9].fileName = longName; });
    });
    HostileCase x = baseExpectation();
    removeFile(x.saverFiles, "extra9.bin");
    x.saverFiles.push_back({longName, sizeOf(extra9_)});
    installs("item-name", "item 9 255 characters", build(r).installer, x, Outcome::Either);
    // A byte above 0x7F is an ordinary ANSI character.
    std::string ansi = "caf\xe9.bin";
    r = with([ansi](PackageBuilder& p) {
      p.editHeader([ansi](PackageHeader& h) { h.items[9].fileName = ansi; });
    });
    x = baseExpectation();
    removeFile(x.saverFiles, "extra9.bin");
    x.saverFiles.push_back({ansi, sizeOf(extra9_)});
    installs("item-name", "item 9 ANSI character", build(r).installer, x);
  }

  void entryNames() {
    auto named = [this](std::size_t entry, const std::string& name) {
      Recipe r = base_;
      r.entries[entry].name = name;
      return r;
    };
    for (const auto& [label, name] : badFileNames("evil.txt"))
      if (label != "sub\\name")  // a subfolder is fine for entries
        refused("entry-name", "entry 2 " + label, build(named(1, name)).installer);
    for (const auto& [label, name] : std::vector<std::pair<std::string, std::string>>{
             {"sub\\..\\..\\name", "sub\\..\\..\\evil.txt"},
             {"sub\\CON", "sub\\CON"},
             {"sub\\aux.dat", "sub\\aux.dat"},
             {"empty component", "sub\\\\evil.txt"},
             {"trailing backslash", "sub\\"},
             {"forward slash folder", "sub/evil.txt"},
             {"256 characters, no NUL", std::string(256, 'x')},
         })
      refused("entry-name", "entry 2 " + label, build(named(1, name)).installer);
    for (const auto& [label, name] : std::vector<std::pair<std::string, std::string>>{
             {"..", ".."}, {"C:name", "C:copy.swf"}, {"UNC", "\\\\server\\share\\copy.swf"}})
      refused("entry-name", "copy entry 4 " + label, build(named(3, name)).installer);

    std::string longName = std::string(251, 'e') + ".txt";
    HostileCase x = baseExpectation();
    removeFile(x.saverFiles, "sub\\deeper\\notes.txt");
    x.saverFiles.push_back({longName, sizeOf(notes_)});
    installs("entry-name", "entry 2 255 characters", build(named(1, longName)).installer, x, Outcome::Either);
    std::string deep;
    for (int n = 10; deep.size() + 9 + 5 <= kMaxItemNameLength; ++n) deep += "folder" + std::to_string(n) + "\\";
    deep += "f.txt";
    x = baseExpectation();
    removeFile(x.saverFiles, "sub\\deeper\\notes.txt");
    x.saverFiles.push_back({deep, sizeOf(notes_)});
    installs("entry-name", "entry 2 deep path of " + std::to_string(deep.size()) + " characters",
             build(named(1, deep)).installer, x, Outcome::Either);
    // A member named like a folder another member created.
    Recipe r = base_;
    r.entries.push_back({EntrySpec::Stored, "sub\\deeper", bytesOf("a file where a folder is"), {}, {}});
    refused("entry-name", "member named like an existing folder", build(r).installer);
  }

  // Names whose bytes mean different things in code page 932 and in the
  // single-byte code pages: 0x95 and 0x83 lead a double-byte character there
  // ("表" is 95 5C, "ソ" 83 5C: the backslash as second byte), and are
  // letters or signs elsewhere.
  void doubleByteNames() {
    if (codePage_ != 932 && isLeadByte(codePage_, 0x95)) return;  // other double-byte pages: not planned for
    const bool dbcs = codePage_ == 932;
    auto itemNamed = [this](const std::string& n) {
      return build(with([n](PackageBuilder& p) {
               p.editHeader([n](PackageHeader& h) { h.items[9].fileName = n; });
             })).installer;
    };
    auto withItem9 = [this](const std::string& n) {
      HostileCase x = baseExpectation();
      removeFile(x.saverFiles, "extra9.bin");
      x.saverFiles.push_back({n, sizeOf(extra9_)});
      return x;
    };
    // A name of one character whose second byte is the backslash: one file in
    // 932, a path with a separator (refused for an item) elsewhere.
    if (dbcs)
      installs("double-byte", "item 9 second byte 0x5C", itemNamed("\x95\x5C.bin"), withItem9("\x95\x5C.bin"));
    else
      refused("double-byte", "item 9 second byte 0x5C", itemNamed("\x95\x5C.bin"));
    // A name that ends in a lead byte is no text in 932.
    if (dbcs)
      refused("double-byte", "item 9 ending in a lead byte", itemNamed("evil\x95"));
    else
      installs("double-byte", "item 9 ending in a lead byte", itemNamed("evil\x95"), withItem9("evil\x95"));
    // An entry in a folder named "ソ": in a single-byte code page the same
    // bytes hold an empty path component.
    Recipe r = base_;
    r.entries[1].name = "\x83\x5C\\evil.txt";
    if (dbcs) {
      HostileCase x = baseExpectation();
      removeFile(x.saverFiles, "sub\\deeper\\notes.txt");
      x.saverFiles.push_back({"\x83\x5C\\evil.txt", sizeOf(notes_)});
      installs("double-byte", "entry 2 folder with second byte 0x5C", build(r).installer, x);
    } else {
      refused("double-byte", "entry 2 folder with second byte 0x5C", build(r).installer);
    }
    r = base_;
    r.saverName = "Hostile\x95";
    if (dbcs)
      refused("double-byte", "saver name ending in a lead byte", build(r).installer);
    else
      installs("double-byte", "saver name ending in a lead byte", build(r).installer, expectation(r));
  }

  void saverNames() {
    for (const auto& [label, name] : std::vector<std::pair<std::string, std::string>>{
             {"backslash", "Hostile\\Saver"},
             {"..", ".."},
             {".", "."},
             {"..\\name", "..\\Hostile"},
             {"trailing ..", "Hostile\\.."},
             {"empty", ""},
             {"CON", "CON"},
             {"trailing dot", "Hostile."},
             {"colon", "C:Hostile"},
             {"slash", "Hostile/Saver"},
             {"control char", "Hostile\x07Saver"},
         }) {
      Recipe r = base_;
      r.saverName = name;
      refused("saver-name", label, build(r).installer);
    }
    // Names of the Windows folder's own folders: an installation of that name
    // never touches them (the drive snapshot shows it).
    for (const auto& [label, name] : std::vector<std::pair<std::string, std::string>>{
             {"64 characters, no NUL", std::string(64, 'S')},
             {"dots inside", "Hostile..Saver"},
             {"a Windows folder: Fonts", "Fonts"},
             {"a Windows folder: Temp", "Temp"},
             {"a Windows folder: Installer", "Installer"},
             {"a Windows folder: System32", "System32"}}) {
      Recipe r = base_;
      r.saverName = name;
      installs("saver-name", label, build(r).installer, expectation(r));
    }
  }

  void itemTypes() {
    // Types without a destination.
    for (int k : {1, 6, 8, 9}) {
      for (std::int32_t type : {0, 8, 9, 11, -1, kIntMin}) {
        if (k == 8 && type != 0 && type != 11) continue;
        refused("item-type", "item " + std::to_string(k) + " type " + std::to_string(type),
                poked(itemFieldAt(k, kItemTypeField), type));
      }
    }
    // Destinations of the format for the further items.
    auto typed = [this](int k, std::int32_t type, bool breakItem10) {
      Bytes b = poked(itemFieldAt(k, kItemTypeField), type);
      // Stored bytes read as implode data: item 10 fails after item 9 is written.
      if (breakItem10) b[itemFieldAt(10, kItemIsCompressedField)] = 1;
      return b;
    };
    HostileCase x = baseExpectation();
    removeFile(x.saverFiles, "extra9.bin");
    x.systemFiles.push_back({"extra9.bin", sizeOf(extra9_)});
    installs("item-dest", "item 9 type 2 (system folder)", typed(9, 2, false), x);
    x = baseExpectation();
    removeFile(x.saverFiles, "extra9.bin");
    x.commonFiles.push_back({"extra9.dll", sizeOf(extra9_)});
    installs("item-dest", "item 9 type 3 (common folder library)", typed(9, 3, false), x);
    x = baseExpectation();
    removeFile(x.saverFiles, "extra9.bin");
    installs("item-dest", "item 9 type 7 (work folder)", typed(9, 7, false), x);
    refused("item-dest", "item 9 type 2, item 10 fails", typed(9, 2, true));
    refused("item-dest", "item 9 type 3, item 10 fails", typed(9, 3, true));
    refused("item-dest", "item 10 type 2 fails itself", typed(10, 2, true));
    refused("item-dest", "item 8 (data file) type 2", typed(8, 2, false));
    refused("item-dest", "item 8 (data file) type 3", typed(8, 3, false));
    // Start-up items belong in the work folder: anything else is written
    // before the install starts and would stay after a failure.
    for (int k : {2, 3, 4, 5})
      for (std::int32_t type : {1, 2, 3}) {
        if (k == 2 && type == 3) continue;  // the Flash installer's own type
        refused("item-dest", "start-up item " + std::to_string(k) + " type " + std::to_string(type),
                typed(k, type, false));
      }
    refused("item-dest", "item 1 (library) type 2", typed(1, 2, false));
    installs("item-dest", "item 1 type 7 (work folder, name kept)", typed(1, 7, false), baseExpectation());
  }

  void implodedData() {
    const PackageItem& i7 = good_.header.items[7];
    const std::size_t stored7 = static_cast<std::size_t>(itemStoredSize(i7));
    auto item7 = [this](Bytes stored) {
      Recipe r = with([stored](PackageBuilder& p) {
        PackageItem f;
        f.fileName = "extra7.txt";
        f.itemType = 1;
        f.isCompressed = 1;
        f.expandedSize = 3000;
        p.rawItem(7, f, stored);
      });
      return build(r).installer;
    };
    auto member3 = [this](Bytes stored) {
      Recipe r = base_;
      EntrySpec& e = r.entries[2];
      e.kind = EntrySpec::Raw;
      e.header.fileSize = static_cast<std::int32_t>(big_.size());
      e.header.storedSize = static_cast<std::int32_t>(stored.size());
      e.header.isImploded = 1;
      e.raw = std::move(stored);
      return build(r).installer;
    };
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
      Bytes noise = randomBytes(stored7 + 40 * seed, seed);
      // Seeds 3 to 6 start like a real stream (literal mode, dictionary size),
      // so the decoder goes past the header into the codes.
      if (seed >= 3) {
        noise[0] = static_cast<std::uint8_t>(seed % 2);
        noise[1] = static_cast<std::uint8_t>(4 + seed % 3);
      }
      refused("implode", "item 7 random bytes, seed " + std::to_string(seed), item7(noise));
      refused("implode", "member 3 random bytes, seed " + std::to_string(seed), member3(noise));
    }
    Bytes stream = implode_(extra7_);
    refused("implode", "item 7 stream cut in half", item7(truncated(stream, stream.size() / 2)));
    Bytes big = implode_(big_);
    refused("implode", "member 3 stream cut in half", member3(truncated(big, big.size() / 2)));
    Bytes longer = implode_(sampleText(big_.size() + 700, "the quick brown fox jumps over the lazy dog"));
    refused("implode", "member 3 expands past its fileSize", member3(longer));
    // Small streams that claim 1 KiB and expand a thousandfold: stopped at
    // the claim, the disk never holds more.
    Bytes bomb = implode_(Bytes(8u << 20, 0));
    Recipe itemBomb = with([bomb](PackageBuilder& p) {
      PackageItem f;
      f.fileName = "extra7.txt";
      f.itemType = 1;
      f.isCompressed = 1;
      f.expandedSize = 1024;
      p.rawItem(7, f, bomb);
    });
    refused("implode", "item 7 claims 1 KiB, expands to 8 MiB", build(itemBomb).installer);
    Recipe memberBomb = base_;
    EntrySpec& e = memberBomb.entries[2];
    e.kind = EntrySpec::Raw;
    e.header.fileSize = 1024;
    e.header.storedSize = static_cast<std::int32_t>(bomb.size());
    e.header.isImploded = 1;
    e.raw = bomb;
    refused("implode", "member 3 claims 1 KiB, expands to 8 MiB", build(memberBomb).installer);
    Recipe r = with([](PackageBuilder& p) {
      PackageItem f;
      f.fileName = "impborl.dat";
      f.itemType = 4;
      f.isCompressed = 1;
      f.expandedSize = 4096;
      p.rawItem(1, f, randomBytes(300, 99));
    });
    refused("implode", "item 1 (library) random implode bytes", build(r).installer);
    Bytes b = good_.installer;
    b[itemFieldAt(9, kItemIsCompressedField)] = 1;
    refused("implode", "stored item 9 marked compressed", std::move(b));
  }

  void movies() {
    Bytes broken = bytesOf(std::string("CWS\x0a\x40\x00\x00\x00", 8) + "this is not a zlib stream at all");
    Recipe r = base_;
    r.preview = broken;
    installs("movie", "CWS preview with a broken zlib stream", build(r).installer, expectation(r));
    {
      // 4 MiB of zeros behind a length field of 100 bytes.
      Recipe longer = base_;
      Bytes zeros(4u << 20, 0);
      uLongf size = compressBound(static_cast<uLong>(zeros.size()));
      Bytes packed(size);
      compress2(packed.data(), &size, zeros.data(), static_cast<uLong>(zeros.size()), 9);
      packed.resize(size);
      longer.preview = bytesOf(std::string("CWS\x0a\x64\x00\x00\x00", 8));
      longer.preview.insert(longer.preview.end(), packed.begin(), packed.end());
      installs("movie", "CWS preview inflating past its length field", build(longer).installer, expectation(longer));
    }
    r.mainFileSource = kMainFileFromPreview;
    installs("movie", "broken CWS preview reused as the main file", build(r).installer, expectation(r));
    Recipe quiet = r;
    quiet.tweak = [](PackageBuilder& p) { p.mode(4); };
    refused("movie", "main file from a preview that quiet mode never extracts", build(quiet).installer);
  }

  void flashInstaller() {
    auto header = [this](std::function<void(PackageHeader&)> edit) {
      return build(with([edit](PackageBuilder& p) { p.editHeader(edit); })).installer;
    };
    refused("flash", "flashAXInstallerVersion 2 with an installer",
            header([](PackageHeader& h) { h.flashAXInstallerVersion = 2; }));
    refused("flash", "flashAXInstallerVersion 255 with an installer",
            header([](PackageHeader& h) { h.flashAXInstallerVersion = 255; }));
    installs("flash", "flashAXInstallerVersion 2 without hasFlashAXInstaller", header([](PackageHeader& h) {
               h.flashAXInstallerVersion = 2;
               h.hasFlashAXInstaller = 0;
             }),
             baseExpectation());
    installs("flash", "flashAXInstallerVersion 1 (older than the installed player)",
             header([](PackageHeader& h) { h.flashAXInstallerVersion = 1; }), baseExpectation());
    refused("flash", "hasFlashAXInstaller without item 2",
            build(with([](PackageBuilder& p) { p.removeItem(2); })).installer);
  }

  void trailer() {
    Recipe r = base_;
    r.trailer = true;
    const Bytes t = build(r).installer;
    const std::uint64_t end = t.size();
    auto flipped = [&](std::uint64_t at) {
      Bytes b = t;
      b[at] ^= 0x20;
      return b;
    };
    refusedByChecksum("trailer", "byte of item 9 changed",
                      flipped(static_cast<std::uint64_t>(good_.header.items[9].startOffset)));
    refusedByChecksum("trailer", "byte of the saver name changed", flipped(INSTALLER_SIZE_IN_BYTES2 + 6));
    refusedByChecksum("trailer", "byte of the stub padding changed", flipped(INSTALLER_SIZE_IN_BYTES2 - 1));
    refusedByChecksum("trailer", "CRC field changed", flipped(end - kTrailerSize));
    refusedByChecksum("trailer", "length field changed", flipped(end - kTrailerSize + 4));
    // Without its last byte (or whole) the trailer is no trailer: the
    // installer is one without a trailer and still intact.
    installs("trailer", "last byte cut (no trailer any more)", truncated(t, end - 1), baseExpectation());
    installs("trailer", "trailer cut off", truncated(t, end - kTrailerSize), baseExpectation());
    Bytes appended = t;
    appended.push_back(0);
    installs("trailer", "a byte after the trailer", appended, baseExpectation());
    // Damage under a valid CRC: the structural checks still stand.
    Bytes resealed = truncated(t, end - kTrailerSize);
    poke32(resealed, itemFieldAt(9, kItemEndOffsetField), -1);
    appendTrailer(resealed);
    refused("trailer", "item 9 endOffset -1 under a valid CRC", resealed);
  }

  void absentItems() {
    for (int k : {1, 3, 5, 6, 8, 10}) {
      Recipe r = with([k](PackageBuilder& p) {
        p.editHeader([k](PackageHeader& h) { h.items[static_cast<std::size_t>(k)].fileName.clear(); });
      });
      refused("absent", "item " + std::to_string(k) + " name empty", build(r).installer);
    }
  }

  std::span<const std::uint8_t> stub_;
  CompressFn implode_;
  unsigned codePage_;
  const Bytes readMe_ = bytesOf("read me after installing");
  const Bytes program_ = bytesOf("MZ hostile test saver program");
  const Bytes extra9_ = bytesOf("extra file nine");
  const Bytes extra10_ = bytesOf("extra file ten, type 10");
  Bytes extra7_, big_, mainSwf_, notes_;
  Recipe base_;
  Built good_;
  std::vector<HostileCase> cases_;
};

}  // namespace

std::vector<HostileCase> generateHostileCases(std::span<const std::uint8_t> stub, const CompressFn& implode,
                                              unsigned codePage) {
  return Generator(stub, implode, codePage).run();
}

std::vector<std::pair<std::string, int>> casesPerFamily(const std::vector<HostileCase>& cases) {
  std::vector<std::pair<std::string, int>> counts;
  for (const HostileCase& c : cases) {
    auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& p) { return p.first == c.family; });
    if (it == counts.end())
      counts.push_back({c.family, 1});
    else
      ++it->second;
  }
  return counts;
}

}  // namespace hostile
