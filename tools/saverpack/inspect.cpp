// Installer inspection.
#include "tools/saverpack/inspect.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <functional>

#include "package/explode.h"
#include "package/pe_header.h"
#include "package/validate.h"
#include "base/code_page.h"
#include "system/command_line.h"
#include "tools/saverpack/checks.h"
#include "tools/saverpack/signer_name.h"
#include "tools/saverpack/support.h"

namespace saverpack {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlock = 1 << 20;

// Reads n bytes at an offset of some region (the file, or the data file).
using RegionRead = std::function<bool(std::uint64_t offset, std::uint8_t* dst, std::size_t n)>;

std::string format(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, again);
  va_end(again);
  return out;
}

// Appended piece by piece: "\"" + s + "\"" draws a false -Wrestrict from g++ 12.
std::string quote(const std::string& text) {
  std::string out(1, '"');
  out += text;
  out += '"';
  return out;
}

const char* modeText(std::uint8_t mode) {
  switch (mode) {
    case 1: return "bitmap preview";
    case 2: case 3: return "movie preview";
    case 4: return "quiet, no window";
    case 8: return "JPEG preview";
    default: return "window without a preview";
  }
}

// Decodes `count` implode bytes pulled through `read` and counts what they
// expand to; stops once the output passes `limit` (a hostile stream could
// expand several hundred times).
struct ExpandCount {
  const RegionRead* read = nullptr;
  std::uint64_t offset = 0;
  std::uint64_t remaining = 0;
  std::uint64_t produced = 0;
  std::uint64_t limit = 0;
  bool readFailed = false;
  bool overLimit = false;
};

unsigned countRead(char* buf, unsigned* size, void* param) {
  auto* c = static_cast<ExpandCount*>(param);
  if (c->overLimit || c->readFailed || c->remaining == 0) return 0;
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(*size, c->remaining));
  if (!(*c->read)(c->offset, reinterpret_cast<std::uint8_t*>(buf), n)) {
    c->readFailed = true;
    return 0;
  }
  c->offset += n;
  c->remaining -= n;
  return static_cast<unsigned>(n);
}

void countWrite(char*, unsigned* size, void* param) {
  auto* c = static_cast<ExpandCount*>(param);
  c->produced += *size;
  if (c->produced > c->limit) c->overLimit = true;
}

// "" when the stream expands to exactly `expected` bytes, else the problem.
std::string checkExpansion(const RegionRead& read, std::uint64_t offset, std::uint64_t count, std::uint64_t expected,
                           std::uint64_t* produced = nullptr) {
  ExpandCount c;
  c.read = &read;
  c.offset = offset;
  c.remaining = count;
  c.limit = expected;
  ExplodeStatus st = explodeStream(countRead, countWrite, &c);
  if (produced) *produced = c.produced;
  if (c.readFailed) return "its stored bytes cannot be read";
  if (c.overLimit) return format("expands to more than the recorded %" PRIu64 " bytes", expected);
  if (st != ExplodeStatus::Ok) return format("does not expand: %s after %" PRIu64 " bytes", explodeStatusText(st), c.produced);
  if (c.produced != expected)
    return format("expands to %" PRIu64 " bytes, not the recorded %" PRIu64, c.produced, expected);
  return {};
}

class Inspector {
 public:
  explicit Inspector(InspectReport& r) : r_(r) {}

  void run(const fs::path& path) {
    name_ = displayPath(path);
    file_.emplace(path);
    r_.fileSize = file_->size();
    line(format("%s: %" PRIu64 " bytes", name_.c_str(), r_.fileSize));
    checkTrailer();
    checkSignature();
    if (r_.fileSize < kPackageDataStart) {
      problem(format("the file is %" PRIu64 " bytes, too short for the %u-byte stub and the %zu-byte package header",
                     r_.fileSize, INSTALLER_SIZE_IN_BYTES2, kPackageHeaderSize));
      return;
    }
    std::uint8_t mz[2];
    if (!file_->readAt(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z')
      problem("the stub does not start with MZ: not a Windows program");
    std::vector<std::uint8_t> raw(kPackageHeaderSize);
    if (!file_->readAt(INSTALLER_SIZE_IN_BYTES2, raw.data(), raw.size())) return problem("the header cannot be read");
    r_.header = parsePackageHeader(raw);
    decodeName(r_.header->saverName, "saverName");
    for (int k = 1; k < kPackageItemCount; ++k)
      decodeName(r_.header->items[static_cast<std::size_t>(k)].fileName, format("item %d", k));
    const PackageHeader& h = *r_.header;
    printHeader(h);
    checkItems(h);
    checkSignedRange(h);
    for (std::string& p : headerRuleProblems(h)) problem(std::move(p));
    checkDataFile(h);
    std::vector<DataFileEntry> entries;
    for (const InspectedMember& m : r_.members) entries.push_back(m.entry);
    for (std::string& p : collisionProblems(h, entries)) problem(std::move(p));
    line(r_.problems.empty() ? "consistent" : format("%zu problem(s)", r_.problems.size()));
  }

 private:
  void line(std::string s) { r_.lines.push_back(std::move(s)); }

  // A stored name as text in the chosen code page; one it cannot be is
  // shown byte by byte and reported, as the installer refuses it.
  void decodeName(std::string& name, const std::string& label) {
    if (std::optional<std::string> text = ansiToUtf8(name, nameCodePage())) {
      name = std::move(*text);
      return;
    }
    name = utf8FromAnsi(name);
    problem(format("%s: the name %s is not valid text in code page %u; the installer refuses it (-541)",
                   label.c_str(), quote(name).c_str(), nameCodePage()));
  }
  void problem(std::string s) { r_.problems.push_back(std::move(s)); }

  void checkTrailer() {
    TrailerChecker checker;
    std::vector<std::uint8_t> block(kBlock);
    for (std::uint64_t at = 0; at < r_.fileSize;) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, r_.fileSize - at));
      if (!file_->readAt(at, block.data(), n)) return problem("the file cannot be read to its end");
      checker.update(block.data(), n);
      at += n;
    }
    r_.trailer = checker.finish();
    // The installer reads nothing past the items, so the trailer and a
    // signature are outside the package proper.
    payloadEnd_ = packageContentEnd(r_.fileSize, [this](std::uint64_t at, std::uint8_t* dst, std::size_t n) {
      return file_->readAt(at, dst, n);
    });
    switch (r_.trailer) {
      case TrailerCheck::Valid:
        line("trailer: valid (CRC-32 of everything before it matches; the signing fields read as zero)");
        break;
      case TrailerCheck::Absent: line("trailer: absent (an installer built without one)"); break;
      case TrailerCheck::Mismatch:
        line("trailer: MISMATCH");
        problem("the integrity trailer does not match the file (damaged or changed after it was built)");
        break;
    }
  }

  // The certificate table the PE header points at, and who signed.
  void checkSignature() {
    Bytes head(static_cast<std::size_t>(std::min<std::uint64_t>(r_.fileSize, kPeHeadSize)));
    std::optional<PeSigningFields> pe;
    if (file_->readAt(0, head.data(), head.size())) pe = parsePeSigningFields(head);
    if (!pe || !pe->hasCertEntry()) return line("signature: none");
    if (!pe->signedWithin(r_.fileSize)) {
      line(format("signature: BROKEN (certificate table entry: %u bytes at %u)", pe->certSize, pe->certOffset));
      return problem(format("the certificate table entry (%u bytes at %u) does not point at a table that ends the "
                            "%" PRIu64 "-byte file", pe->certSize, pe->certOffset, r_.fileSize));
    }
    r_.isSigned = true;
    signatureStart_ = pe->certOffset;
    Bytes table(std::min<std::size_t>(pe->certSize, kBlock));
    if (file_->readAt(pe->certOffset, table.data(), table.size()))
      if (std::optional<std::string> who = signerName(table)) r_.signer = *who;
    line(format("signature: Authenticode, signed by %s (certificate table of %u bytes at %u)",
                r_.signer.empty() ? "(signer not readable)" : quote(r_.signer).c_str(), pe->certSize, pe->certOffset));
  }

  // Everything the installer reads must come before the signature, or it
  // is not signed.
  void checkSignedRange(const PackageHeader& h) {
    if (!r_.isSigned) return;
    std::uint64_t end = kPackageDataStart;
    for (const PackageItem& it : h.items)
      if (it.present() && it.endOffset >= it.startOffset) end = std::max<std::uint64_t>(end, std::uint64_t(it.endOffset) + 1);
    if (r_.trailer == TrailerCheck::Valid) end = std::max(end, payloadEnd_ + kTrailerSize);
    r_.signatureCoversPackage = end <= signatureStart_;
    if (r_.signatureCoversPackage) {
      line(format("signed range: covers the whole package (the package%s ends at %" PRIu64 ", the signature starts at %"
                  PRIu64 ")", r_.trailer == TrailerCheck::Valid ? " with its trailer" : "", end, signatureStart_));
    } else {
      line("signed range: does NOT cover the whole package");
      problem(format("the package reaches to %" PRIu64 ", past the start of the signature at %" PRIu64
                     ": part of it is not signed", end, signatureStart_));
    }
  }

  void printHeader(const PackageHeader& h) {
    line(format("header at %u:", INSTALLER_SIZE_IN_BYTES2));
    line(format("  installerMode %u (%s)", h.installerMode, modeText(h.installerMode)));
    line(format("  saverName %s", quote(h.saverName).c_str()));
    line(format("  hasLicense %u  hasReadMe %u  hasFlashAXInstaller %u  flashAXInstallerVersion %u  offerControlPanel %u",
                h.hasLicense, h.hasReadMe, h.hasFlashAXInstaller, h.flashAXInstallerVersion, h.offerControlPanel));
    line("switches the installer accepts:");
    for (const InstallerSwitch& s : kInstallerSwitches) line(format("  %-12s %s", s.form, s.meaning));
    if (h.installerMode == 4)
      line("  (quiet by its header: without a switch it installs as with /q, and with offerControlPanel asks the "
           "launcher to open the control panel)");
    line("items:");
    line("   # type destination                            start        end     stored   expanded  compression");
  }

  void checkItems(const PackageHeader& h) {
    PackageHeader none = h;
    for (PackageItem& it : none.items) it = PackageItem();
    if (ErrorCode rc = validatePackageHeader(none, payloadEnd_))
      problem(format("flashAXInstallerVersion %u is not 0 or 1 (%s)", h.flashAXInstallerVersion, errorCodeText(rc).c_str()));
    InstallFolders folders{"<work>\\", "<saver>\\", "<system>\\", "<sysnative>\\", "<common>\\"};
    for (int k = 1; k < kPackageItemCount; ++k) {
      const PackageItem& it = h.items[static_cast<std::size_t>(k)];
      if (!it.present()) {
        line(format("  %2d (absent)", k));
        continue;
      }
      std::string name = k == 3 ? previewFileName(h.installerMode, it.fileName) : it.fileName;
      ItemDestination d = itemDestination(it.itemType, name, folders, true);
      std::string dest = d.hasDestination ? d.path : "(none)";
      std::int64_t stored = itemStoredSize(it);
      line(format("  %2d %4d %-36s %10d %10d %10" PRId64 " %10s  %s  %s", k, it.itemType, dest.c_str(), it.startOffset,
                  it.endOffset, stored, it.isCompressed ? std::to_string(it.expandedSize).c_str() : "-",
                  it.isCompressed ? "imploded" : "stored  ", quote(it.fileName).c_str()));
      if (!d.sysnativePath.empty()) line(format("  %2s %4s also %s", "", "", d.sysnativePath.c_str()));
      checkItem(h, k);
    }
  }

  void checkItem(const PackageHeader& h, int k) {
    const PackageItem& it = h.items[static_cast<std::size_t>(k)];
    PackageHeader alone = h;
    alone.hasFlashAXInstaller = 0;
    for (int j = 0; j < kPackageItemCount; ++j)
      if (j != k) alone.items[static_cast<std::size_t>(j)] = PackageItem();
    std::int64_t stored = itemStoredSize(it);
    std::string label = format("item %d (%s)", k, quote(it.fileName).c_str());
    if (stored == 0) problem(label + ": stored size 0; the installer fails with -7 when it extracts it");
    if (ErrorCode rc = validatePackageHeader(alone, payloadEnd_)) {
      problem(label + ": " + errorCodeText(rc) + itemDetail(it));
      return;
    }
    if (!it.isCompressed || stored <= 0) return;
    RegionRead read = [this](std::uint64_t off, std::uint8_t* dst, std::size_t n) { return file_->readAt(off, dst, n); };
    std::string p = checkExpansion(read, static_cast<std::uint64_t>(it.startOffset), static_cast<std::uint64_t>(stored),
                                   static_cast<std::uint64_t>(it.expandedSize));
    if (!p.empty()) problem(label + ": " + p);
  }

  std::string itemDetail(const PackageItem& it) const {
    std::int64_t stored = itemStoredSize(it);
    if (it.startOffset < 0 || static_cast<std::uint64_t>(it.startOffset) < kPackageDataStart)
      return format(": it starts at %d, inside the stub or header", it.startOffset);
    if (stored < 0) return format(": endOffset %d is before startOffset %d", it.endOffset, it.startOffset);
    if (static_cast<std::uint64_t>(it.startOffset) + static_cast<std::uint64_t>(stored) > payloadEnd_)
      return format(": it ends at %" PRId64 ", past the end of the package at %" PRIu64,
                    static_cast<std::int64_t>(it.startOffset) + stored, payloadEnd_);
    return "";
  }

  // ---- the data file (item 8) ----------------------------------------------

  void checkDataFile(const PackageHeader& h) {
    const PackageItem& it = h.items[8];
    if (!it.present()) return;
    std::int64_t stored = itemStoredSize(it);
    if (stored <= 0 || it.startOffset < 0 ||
        static_cast<std::uint64_t>(it.startOffset) + static_cast<std::uint64_t>(stored) > payloadEnd_)
      return;  // reported with the item
    std::uint64_t base = static_cast<std::uint64_t>(it.startOffset);
    std::uint64_t size = static_cast<std::uint64_t>(stored);
    RegionRead read;
    std::vector<std::uint8_t> expanded;
    if (it.isCompressed) {
      // The installer expands a compressed data file before reading it.
      if (it.expandedSize < 0) return;
      std::vector<std::uint8_t> packed(static_cast<std::size_t>(size));
      if (!file_->readAt(base, packed.data(), packed.size()) ||
          explodeBuffer(packed.data(), packed.size(), expanded) != ExplodeStatus::Ok)
        return;  // reported with the item
      size = expanded.size();
      read = [&expanded](std::uint64_t off, std::uint8_t* dst, std::size_t n) {
        if (off > expanded.size() || n > expanded.size() - off) return false;
        std::copy_n(expanded.begin() + static_cast<std::ptrdiff_t>(off), n, dst);
        return true;
      };
    } else {
      read = [this, base, size](std::uint64_t off, std::uint8_t* dst, std::size_t n) {
        if (off > size || n > size - off) return false;
        return file_->readAt(base + off, dst, n);
      };
    }
    inspectTable(h, read, size);
  }

  void inspectTable(const PackageHeader& h, const RegionRead& read, std::uint64_t size) {
    line(format("data file (item 8, %" PRIu64 " bytes):", size));
    std::vector<std::uint8_t> raw(kSaverDataRecordSize);
    if (!read(0, raw.data(), raw.size()))
      return problem(format("the data file is %" PRIu64 " bytes, shorter than its %zu-byte record", size,
                            kSaverDataRecordSize));
    r_.record = parseSaverDataRecord(raw);
    const SaverDataRecord& rec = *r_.record;
    line(format("  record: fileCount %d  mainFileSource %d%s", rec.fileCount(), rec.mainFileSource(),
                rec.mainFileSource() == kMainFileFromPreview ? " (entry 1 is the preview movie)" : ""));
    if (rec.fileCount() < 0 || rec.fileCount() > kMaxFileCount)
      return problem(format("data file: fileCount %d is outside 0..%d", rec.fileCount(), kMaxFileCount));
    std::vector<std::uint8_t> table(kDataFileEntrySize * static_cast<std::size_t>(rec.fileCount()));
    if (!read(kSaverDataRecordSize, table.data(), table.size()))
      return problem(format("data file: its %d entries run past its end", rec.fileCount()));
    std::vector<DataFileEntry> entries;
    for (std::size_t i = 0; i < static_cast<std::size_t>(rec.fileCount()); ++i) {
      entries.push_back(*parseDataFileEntry(std::span(table).subspan(i * kDataFileEntrySize)));
      decodeName(entries.back().entryName, format("data file entry %zu", i + 1));
    }

    DataFileReadAt readAt = [&read](std::uint64_t off, std::uint8_t* dst, std::size_t n) {
      return read(off, dst, n) ? errOk : errCorruptPackage;
    };
    line("  entry kind     offset   fileSize storedSize  method    name");
    std::vector<DataFileEntry> alone(entries.size());  // every name empty: skipped
    bool found = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      alone[i] = entries[i];
      ErrorCode rc = validateDataFileTable(rec, alone, size, readAt);
      alone[i] = DataFileEntry();
      found |= inspectEntry(i, entries[i], rec, read, rc);
    }
    if (ErrorCode rc = validateDataFileTable(rec, entries, size, readAt); rc && !found)
      problem("data file: " + errorCodeText(rc));
    for (std::string& p : dataFileRuleProblems(h, rec, entries)) problem(std::move(p));
  }

  // Prints one entry and checks its member; true when a problem was found.
  bool inspectEntry(std::size_t i, const DataFileEntry& e, const SaverDataRecord& rec, const RegionRead& read,
                    ErrorCode rc) {
    InspectedMember m;
    m.entry = e;
    m.copy = e.entryKind == kEntryKindCopy || (i == 0 && rec.mainFileSource() == kMainFileFromPreview);
    std::string label = format("data file entry %zu (%s)", i + 1, quote(e.entryName).c_str());
    std::size_t before = r_.problems.size();
    if (rc) problem(label + ": " + errorCodeText(rc));
    if (e.entryName.empty()) {
      line(format("  %5zu %4u (empty name: skipped)", i + 1, e.entryKind));
    } else if (m.copy) {
      line(format("  %5zu %4u %10s %10s %10s  copy      %s  (of %s)", i + 1, e.entryKind, "-", "-", "-",
                  quote(e.entryName).c_str(), i == 0 ? "the preview movie" : "entry 1"));
    } else if (!rc) {
      std::uint8_t raw[kMemberHeaderSize];
      read(static_cast<std::uint64_t>(e.dataOffset), raw, sizeof raw);  // inside: validated
      m.header = parseMemberHeader(raw);
      const MemberHeader& mh = *m.header;
      line(format("  %5zu %4u %10d %10d %10d  %-8s  %s", i + 1, e.entryKind, e.dataOffset, mh.fileSize, mh.storedSize,
                  mh.fileSize == 0 ? "empty" : mh.isImploded ? "imploded" : "stored", quote(e.entryName).c_str()));
      if (mh.isImploded && mh.fileSize > 0) {
        std::uint64_t produced = 0;
        std::string p = checkExpansion(read, static_cast<std::uint64_t>(e.dataOffset) + kMemberHeaderSize,
                                       static_cast<std::uint64_t>(mh.storedSize),
                                       static_cast<std::uint64_t>(mh.fileSize), &produced);
        m.expandedSize = produced;
        if (!p.empty()) problem(label + ": " + p);
        if (mh.storedSize == 0) problem(label + ": storedSize 0; the installer fails with -7");
      }
    } else {
      line(format("  %5zu %4u %10d  (unreadable member)  %s", i + 1, e.entryKind, e.dataOffset, quote(e.entryName).c_str()));
    }
    r_.members.push_back(std::move(m));
    return r_.problems.size() != before;
  }

  InspectReport& r_;
  std::string name_;
  std::optional<InputFile> file_;
  std::uint64_t signatureStart_ = 0;
  std::uint64_t payloadEnd_ = 0;
};

}  // namespace

InspectReport inspectInstaller(const fs::path& file, unsigned codePage) {
  setNameCodePage(codePage);
  InspectReport r;
  try {
    Inspector(r).run(file);
  } catch (const std::bad_alloc&) {
    r.problems.push_back(displayPath(file) + ": out of memory");
  } catch (const std::exception& e) {
    r.problems.push_back(e.what());
  }
  return r;
}

}  // namespace saverpack
