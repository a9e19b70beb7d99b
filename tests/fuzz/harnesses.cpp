// Fuzz harness bodies (declared in tests/fuzz/harnesses.h).
#include "tests/fuzz/harnesses.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_codes.h"
#include "flash/flash_version.h"
#include "flash/swf_reader.h"
#include "base/byte_reader.h"
#include "package/explode.h"
#include "base/package_format.h"
#include "base/code_page.h"
#include "base/names.h"
#include "package/pe_header.h"
#include "package/trailer.h"
#include "package/package_text.h"
#include "package/validate.h"
#include "package/zstream.h"
#include "system/install_journal.h"
#include "tools/implode/implode.h"
#include "tools/saverpack/signer_name.h"
#include "tests/support/piece_stream.h"

namespace {

FuzzFailureHandler gFailureHandler = nullptr;

[[noreturn]] void failAt(const char* function, int line, const char* what)
{
  char message[512];
  std::snprintf(message, sizeof message, "%s, line %d: %s", function, line, what);
  fuzzFail(message);
}

#define FUZZ_CHECK(cond)                               \
  do {                                                 \
    if (!(cond)) failAt(__func__, __LINE__, #cond);    \
  } while (0)

// Decisions a harness takes besides the bytes under test (block sizes,
// operations): a small generator seeded by a hash of the input, so that one
// input always replays the same way and every mutation varies them too.
class Chooser {
public:
  Chooser(const std::uint8_t* data, std::size_t size)
  {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    state_ = h | 1;
  }
  std::uint32_t next()
  {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 16);
  }
  // 0..n-1 (n > 0)
  std::size_t below(std::size_t n) { return next() % n; }
  // A block size: mostly small and odd, now and then around the decoders'
  // internal buffer sizes.
  std::size_t blockSize()
  {
    static constexpr std::size_t kSizes[] = {1, 2, 3, 7, 8, 15, 16, 17, 100, 511, 4096, 16383, 16384, 65536, 70000};
    return (next() & 3) ? 1 + below(40) : kSizes[below(std::size(kSizes))];
  }

private:
  std::uint64_t state_;
};

std::span<const std::uint8_t> bytesOf(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

// ------------------------------------------------------------ package header

// The whole-file trailer check and the streaming one agree for any split,
// and a trailer appended to any content is found valid and catches a changed
// byte.
void checkTrailerAgreement(std::span<const std::uint8_t> file, Chooser& choose)
{
  TrailerCheck whole = checkTrailer(file);
  TrailerChecker streamed;
  for (std::size_t at = 0; at < file.size();) {
    std::size_t n = std::min(choose.blockSize(), file.size() - at);
    if (choose.below(8) == 0) streamed.update(file.data() + at, 0);
    streamed.update(file.data() + at, n);
    at += n;
  }
  FUZZ_CHECK(streamed.finish() == whole);
  FUZZ_CHECK(streamed.bytesSeen() == file.size());
  if (file.size() < kTrailerSize) FUZZ_CHECK(whole == TrailerCheck::Absent);

  // Sealed unsigned (a PE-shaped input gets its signing fields cleared).
  std::vector<std::uint8_t> sealed(file.begin(), file.end());
  zeroPeSigningFields(sealed);
  appendTrailer(sealed);
  FUZZ_CHECK(checkTrailer(sealed) == TrailerCheck::Valid);
  std::optional<PeSigningFields> pe = parsePeSigningFields(sealed);
  std::size_t flip = choose.below(sealed.size() - kTrailerMarker.size());
  // The checksum is left out of the CRC, as the signature's hash leaves it out.
  if (pe && flip >= pe->checksumAt && flip < pe->checksumAt + 4) return;
  sealed[flip] ^= static_cast<std::uint8_t>(1 + choose.below(255));
  FUZZ_CHECK(checkTrailer(sealed) == TrailerCheck::Mismatch);
}

// ------------------------------------------------------------ signed installers

// The PE fields lie inside the bytes given; a trailer over any PE-shaped
// input stays valid when a certificate table is appended (padded as the
// tools pad, signed twice), and a changed byte before the table, other than
// the checksum or what unmakes the PE header, is caught.  The signer's name
// is looked for in any bytes.
int peSigningImpl(const std::uint8_t* data, std::size_t size)
{
  std::span<const std::uint8_t> input(data, size);
  Chooser choose(data, size);
  (void)saverpack::signerName(input);
  std::optional<PeSigningFields> pe = parsePeSigningFields(input);
  if (!pe) return 0;
  FUZZ_CHECK(pe->checksumAt + 4 <= std::min(size, kPeHeadSize));
  FUZZ_CHECK(pe->certEntryAt + 8 <= std::min(size, kPeHeadSize));

  std::vector<std::uint8_t> file(input.begin(), input.end());
  zeroPeSigningFields(file);
  appendTrailer(file);
  std::uint64_t end = file.size() - kTrailerSize;
  std::size_t parseEnd = pe->certEntryAt + 8;  // the header bytes the parse reads lie before this
  for (int round = 0; round < 2; ++round) {
    if (round == 1) file.resize(loadLe32(file.data() + pe->certEntryAt));  // re-signing cuts the old table
    while (file.size() % 8) file.push_back(0);
    std::uint32_t table = static_cast<std::uint32_t>(file.size());
    std::uint32_t tableSize = static_cast<std::uint32_t>(8 + choose.below(600));
    storeLe32(file.data() + pe->checksumAt, choose.next());
    storeLe32(file.data() + pe->certEntryAt, table);
    storeLe32(file.data() + pe->certEntryAt + 4, tableSize);
    for (std::uint32_t i = 0; i < tableSize; ++i) file.push_back(static_cast<std::uint8_t>(choose.next()));
    checkTrailerAgreement(bytesOf(file), choose);
    FUZZ_CHECK(checkTrailer(file) == TrailerCheck::Valid);
    std::uint64_t found = packageContentEnd(file.size(), [&](std::uint64_t at, std::uint8_t* dst, std::size_t n) {
      if (at > file.size() || n > file.size() - at) return false;
      std::memcpy(dst, file.data() + at, n);
      return true;
    });
    FUZZ_CHECK(found == end);
    std::size_t flip = choose.below(table);
    bool inChecksum = flip >= pe->checksumAt && flip < pe->checksumAt + 4;
    if (!inChecksum && flip >= parseEnd) {
      std::uint8_t old = file[flip];
      file[flip] ^= static_cast<std::uint8_t>(1 + choose.below(255));
      FUZZ_CHECK(checkTrailer(file) == TrailerCheck::Mismatch);
      file[flip] = old;
    }
  }
  return 0;
}

// Where an accepted item lands: exactly one of the install folders followed
// by a plain file name.
void checkItemDestination(const PackageHeader& header, int index)
{
  static const InstallFolders kFolders{"C:\\WORK\\", "C:\\SAVER\\", "C:\\WINDOWS\\SYSTEM32\\",
                                       "C:\\WINDOWS\\SYSNATIVE\\", "C:\\COMMON\\"};
  const PackageItem& item = header.items[static_cast<std::size_t>(index)];
  std::string name = index == 3 ? previewFileName(header.installerMode, item.fileName) : item.fileName;
  std::optional<std::string> written = itemDestinationName(item.itemType, name);
  FUZZ_CHECK(written && isSafeItemFileName(*written));
  for (bool os64 : {false, true}) {
    ItemDestination d = itemDestination(item.itemType, name, kFolders, os64);
    FUZZ_CHECK(d.hasDestination);
    FUZZ_CHECK(d.path.size() > written->size() && d.path.ends_with(*written));
    std::string folder = d.path.substr(0, d.path.size() - written->size());
    FUZZ_CHECK(folder == kFolders.workFolder || folder == kFolders.saverFolder ||
               folder == kFolders.systemFolder || folder == kFolders.commonFolder);
    if (d.sysnativePath.empty()) continue;
    FUZZ_CHECK(os64 && item.itemType == 2);
    FUZZ_CHECK(d.sysnativePath == kFolders.sysnativeFolder + *written);
  }
}

// The input is the installer file from the end of the stub on.  The checks
// mirror the installer: parse the header, leave out a trailer, validate, and
// refuse a bad saver name.
int packageHeaderImpl(const std::uint8_t* data, std::size_t size)
{
  std::span<const std::uint8_t> tail(data, size);
  Chooser choose(data, size);
  checkTrailerAgreement(tail, choose);

  std::optional<PackageHeader> header = parsePackageHeader(tail);
  FUZZ_CHECK(header.has_value() == (size >= kPackageHeaderSize));
  if (!header) return 0;
  // Parsing what was serialized gives the same header back.
  std::vector<std::uint8_t> bytes = serializePackageHeader(*header);
  FUZZ_CHECK(bytes.size() == kPackageHeaderSize);
  std::optional<PackageHeader> again = parsePackageHeader(bytesOf(bytes));
  FUZZ_CHECK(again && *again == *header);

  std::uint64_t fileSize = std::uint64_t{INSTALLER_SIZE_IN_BYTES2} + size;
  std::uint64_t checkedSize = fileSize;
  if (size >= kPackageHeaderSize + kTrailerSize &&
      std::equal(kTrailerMarker.begin(), kTrailerMarker.end(), tail.end() - kTrailerMarker.size()))
    checkedSize -= kTrailerSize;
  ErrorCode rc = validatePackageHeader(*header, checkedSize);
  FUZZ_CHECK(rc == errOk || rc == errCorruptPackage || rc == errBadName);
  if (rc != errOk) return 0;
  // A package that fits a file fits every longer one.
  FUZZ_CHECK(validatePackageHeader(*header, fileSize) == errOk);
  FUZZ_CHECK(!header->hasFlashAXInstaller || header->flashAXInstallerVersion <= 1);

  for (int index = 1; index < kPackageItemCount; ++index) {
    const PackageItem& item = header->items[static_cast<std::size_t>(index)];
    if (!item.present()) continue;
    // Every accepted item can be read from the file, after the header.
    std::int64_t stored = itemStoredSize(item);
    FUZZ_CHECK(item.startOffset >= 0 && static_cast<std::uint64_t>(item.startOffset) >= kPackageDataStart);
    FUZZ_CHECK(stored >= 0);
    FUZZ_CHECK(static_cast<std::uint64_t>(item.startOffset) + static_cast<std::uint64_t>(stored) <= checkedSize);
    FUZZ_CHECK(!item.isCompressed || item.expandedSize >= 0);
    FUZZ_CHECK(isSafeItemFileName(item.fileName));
    checkItemDestination(*header, index);
  }
  return 0;
}

// ------------------------------------------------------------ data file

int dataFileImpl(const std::uint8_t* data, std::size_t size)
{
  std::span<const std::uint8_t> file(data, size);
  SaverDataRecord record;
  std::vector<DataFileEntry> entries;
  bool parsed = parseDataFileTable(file, record, entries);
  ErrorCode rc = validateDataFile(file);
  FUZZ_CHECK(rc == errOk || rc == errCorruptPackage || rc == errBadName);
  // Read in a double-byte code page, only the names' verdict may differ.
  ErrorCode rc932 = validateDataFile(file, 932);
  FUZZ_CHECK(rc932 == rc || rc932 == errBadName || rc == errBadName);
  if (!parsed) {
    FUZZ_CHECK(rc == errCorruptPackage);
    return 0;
  }
  FUZZ_CHECK(record.fileCount() >= 0 && record.fileCount() <= kMaxFileCount);
  FUZZ_CHECK(entries.size() == static_cast<std::size_t>(record.fileCount()));
  FUZZ_CHECK(dataFileTableSize(record.fileCount()) <= size);
  bool ascii = true;
  for (const DataFileEntry& e : entries)
    for (char c : e.entryName) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) FUZZ_CHECK(rc932 == rc);

  // Entries survive serialization, and the installer's own record reader
  // (record, then entries one by one) sees the same table.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::vector<std::uint8_t> raw = serializeDataFileEntry(entries[i]);
    std::optional<DataFileEntry> back = parseDataFileEntry(bytesOf(raw));
    FUZZ_CHECK(back && back->entryKind == entries[i].entryKind && back->entryName == entries[i].entryName &&
               back->dataOffset == entries[i].dataOffset);
    std::optional<DataFileEntry> direct = parseDataFileEntry(file.subspan(kSaverDataRecordSize + kDataFileEntrySize * i));
    FUZZ_CHECK(direct && *direct == entries[i]);
  }

  // The table is checked on the names as text (validateDataFile reads them
  // in code page 1252).
  if (!decodeEntryNames(entries, 1252)) {
    FUZZ_CHECK(rc == errBadName);
    return 0;
  }

  // The table check reads only inside the file, and a failing read is passed
  // on as it is, whichever read fails.
  std::size_t reads = 0;
  std::size_t failingRead = SIZE_MAX;
  constexpr ErrorCode kReadError = 7777;
  DataFileReadAt readAt = [&](std::uint64_t offset, std::uint8_t* dst, std::size_t n) -> ErrorCode {
    FUZZ_CHECK(offset <= size && n <= size - offset);
    if (reads++ == failingRead) return kReadError;
    std::memcpy(dst, data + offset, n);
    return errOk;
  };
  FUZZ_CHECK(validateDataFileTable(record, entries, size, readAt) == rc);
  if (reads > 0) {
    failingRead = Chooser(data, size).below(reads);
    reads = 0;
    FUZZ_CHECK(validateDataFileTable(record, entries, size, readAt) == kReadError);
  }
  // A table is never accepted for a file shorter than the one checked.
  if (rc == errOk) {
    auto none = [](std::uint64_t, std::uint8_t*, std::size_t) -> ErrorCode { return errCorruptPackage; };
    FUZZ_CHECK(validateDataFileTable(record, entries, dataFileTableSize(record.fileCount()) - 1, none) != errOk);
  }
  if (rc != errOk) return 0;

  // What the extraction relies on once the table has passed.
  const std::uint64_t tableEnd = dataFileTableSize(record.fileCount());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DataFileEntry& e = entries[i];
    if (e.entryName.empty()) continue;
    FUZZ_CHECK(e.nameTerminated && isSafeEntryName(e.entryName));
    if (e.entryKind == kEntryKindCopy || (i == 0 && record.mainFileSource() == kMainFileFromPreview)) continue;
    FUZZ_CHECK(e.dataOffset >= 0);
    std::uint64_t at = static_cast<std::uint64_t>(e.dataOffset);
    FUZZ_CHECK(at >= tableEnd && at + kMemberHeaderSize <= size);
    std::optional<MemberHeader> m = parseMemberHeader(file.subspan(static_cast<std::size_t>(at)));
    FUZZ_CHECK(m.has_value());
    if (m->fileSize == 0) continue;
    FUZZ_CHECK(m->fileSize > 0);
    std::int32_t dataSize = m->isImploded ? m->storedSize : m->fileSize;
    FUZZ_CHECK(dataSize >= 0 && at + kMemberHeaderSize + static_cast<std::uint64_t>(dataSize) <= size);
  }
  return 0;
}

// ------------------------------------------------------------ explode

// Input in uneven pieces, fewer bytes than asked for, as the data chooses.
ExplodeStatus explodeInPieces(const std::uint8_t* in, std::size_t n, Chooser& choose, std::vector<std::uint8_t>& out)
{
  test_support::PieceStream src({in, n}, [&choose] { return choose.blockSize(); });
  ExplodeStatus status = explodeStream(test_support::PieceStream::read, test_support::PieceStream::write, &src);
  FUZZ_CHECK(!src.askedForNothing);
  out = std::move(src.out);
  return status;
}

bool isPrefix(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
  return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Inputs beyond this size add nothing a smaller one cannot reach (the
// decoder's buffers are 16 KiB of input and 64 KiB of output).
constexpr std::size_t kMaxExplodeInput = 64 * 1024;
// Re-encoding the output is worth it only while it is cheap.
constexpr std::size_t kMaxReencode = 16 * 1024;

int explodeImpl(const std::uint8_t* data, std::size_t size)
{
  if (size > kMaxExplodeInput) return 0;
  Chooser choose(data, size);
  std::vector<std::uint8_t> whole;
  ExplodeStatus status = explodeBuffer(data, size, whole);
  FUZZ_CHECK(status == ExplodeStatus::Ok || status == ExplodeStatus::Truncated ||
             status == ExplodeStatus::BadLiteralMode || status == ExplodeStatus::BadDictionarySize ||
             status == ExplodeStatus::DistanceTooFar);
  if (size < 2) FUZZ_CHECK(status == ExplodeStatus::Truncated);
  else if (data[0] > 1) FUZZ_CHECK(status == ExplodeStatus::BadLiteralMode);
  else if (data[1] < 4 || data[1] > 6) FUZZ_CHECK(status == ExplodeStatus::BadDictionarySize);
  if (size < 2 || data[0] > 1 || data[1] < 4 || data[1] > 6) {
    FUZZ_CHECK(whole.empty());
    return 0;
  }
  // Bits, not bytes, bound the output: no token codes more than 518 bytes in
  // 22 bits (flag, 7-bit length code, 8 extra bits, distance code and low
  // bits of at least 2 and 4).
  FUZZ_CHECK(whole.size() <= (size * 8 / 22 + 1) * dcl::kMaxMatch);

  // Input in uneven pieces gives the same status and the same bytes; after
  // the end code, extra input is ignored.
  std::vector<std::uint8_t> input(data, data + size);
  if (status == ExplodeStatus::Ok)
    for (std::size_t k = choose.below(20); k > 0; --k) input.push_back(static_cast<std::uint8_t>(choose.next()));
  std::vector<std::uint8_t> streamed;
  FUZZ_CHECK(explodeInPieces(input.data(), input.size(), choose, streamed) == status);
  FUZZ_CHECK(streamed == whole);

  // A cut stream decodes to a prefix of the whole output, never to
  // something else, and ends cleanly only if the end code is before the cut.
  std::size_t cut = choose.below(size);
  std::vector<std::uint8_t> part;
  ExplodeStatus partStatus = explodeBuffer(data, cut, part);
  FUZZ_CHECK(isPrefix(part, whole));
  if (partStatus == ExplodeStatus::Ok) FUZZ_CHECK(status == ExplodeStatus::Ok && part == whole);
  else if (partStatus != ExplodeStatus::Truncated) FUZZ_CHECK(partStatus == status);

  // What decodes, the encoder can encode again in the same mode (for one
  // input in four: the encoder's set-up costs more than a decode).
  if (status == ExplodeStatus::Ok && whole.size() <= kMaxReencode && choose.below(4) == 0) {
    ImplodeOptions opts;
    opts.literalMode = data[0] ? ImplodeLiteralMode::Ascii : ImplodeLiteralMode::Binary;
    opts.dictionary = static_cast<ImplodeDictionary>(64u << data[1]);
    opts.effort = ImplodeEffort::Fast;
    std::vector<std::uint8_t> packed = implodeBuffer(whole.data(), whole.size(), opts);
    FUZZ_CHECK(packed.size() >= 2 && packed[0] == data[0] && packed[1] == data[1]);
    std::vector<std::uint8_t> back;
    FUZZ_CHECK(explodeBuffer(packed.data(), packed.size(), back) == ExplodeStatus::Ok);
    FUZZ_CHECK(back == whole);
  }
  return 0;
}

// ------------------------------------------------------------ implode

constexpr std::size_t kMaxImplodeInput = 64 * 1024;

// The first byte chooses the options: bits 0-1 literal mode (binary, ASCII,
// automatic), bits 2-3 dictionary (automatic, 1024, 2048, 4096), bit 4 the
// fast parser, bit 5 the streaming entry as well.  The rest is the data.
int implodeRoundtripImpl(const std::uint8_t* data, std::size_t size)
{
  if (size == 0 || size - 1 > kMaxImplodeInput) return 0;
  const std::uint8_t flags = data[0];
  const std::uint8_t* payload = data + 1;
  const std::size_t n = size - 1;
  static constexpr ImplodeLiteralMode kModes[] = {ImplodeLiteralMode::Binary, ImplodeLiteralMode::Ascii,
                                                  ImplodeLiteralMode::Auto, ImplodeLiteralMode::Auto};
  static constexpr ImplodeDictionary kDicts[] = {ImplodeDictionary::Auto, ImplodeDictionary::Size1024,
                                                 ImplodeDictionary::Size2048, ImplodeDictionary::Size4096};
  ImplodeOptions opts;
  opts.literalMode = kModes[flags & 3];
  opts.dictionary = kDicts[(flags >> 2) & 3];
  opts.effort = (flags & 0x10) ? ImplodeEffort::Fast : ImplodeEffort::Best;
  std::size_t lastDone = 0;
  opts.progress = [&](std::size_t done, std::size_t total) {
    FUZZ_CHECK(total == n && done <= total);
    lastDone = done;
  };

  std::vector<std::uint8_t> packed = implodeBuffer(payload, n, opts);
  FUZZ_CHECK(packed.size() >= 2);
  if (opts.literalMode != ImplodeLiteralMode::Auto)
    FUZZ_CHECK(packed[0] == (opts.literalMode == ImplodeLiteralMode::Ascii ? 1 : 0));
  if (opts.dictionary != ImplodeDictionary::Auto)
    FUZZ_CHECK((64u << packed[1]) == static_cast<unsigned>(opts.dictionary));
  // Never worse than every byte as a literal (9 bits, 14 in ASCII mode),
  // plus the header and the end code.
  FUZZ_CHECK(packed.size() <= 2 + (n * 14 + 7) / 8 + 3);
  if (packed[0] == 0) FUZZ_CHECK(packed.size() <= 2 + (n * 9 + 7) / 8 + 3);
  FUZZ_CHECK(lastDone == n);

  std::vector<std::uint8_t> back;
  FUZZ_CHECK(explodeBuffer(packed.data(), packed.size(), back) == ExplodeStatus::Ok);
  FUZZ_CHECK(back.size() == n && std::equal(back.begin(), back.end(), payload));

  if (flags & 0x20) {
    // The streaming entry, fed in uneven pieces, writes the same bytes.
    Chooser choose(data, size);
    test_support::PieceStream st({payload, n}, [&choose] { return choose.blockSize(); });
    opts.progress = nullptr;
    FUZZ_CHECK(implodeStream(test_support::PieceStream::read, test_support::PieceStream::write, &st, opts));
    FUZZ_CHECK(st.out == packed);
  }
  return 0;
}

// ------------------------------------------------------------ SWF header

// Both cores on every prefix of the input's first bytes, against the header
// as a movie's author knows it: "FWS" or "CWS", then a version byte of which
// 3 to 11 are played; nothing after the version byte matters.  The state
// fields are primed to see what each core keeps.
int swfReaderImpl(const std::uint8_t* data, std::size_t size)
{
  constexpr int kOldestPlayed = 3, kNewestPlayed = 11;  // as the packager tells a saver's author
  ErrorCode at4[2] = {};
  std::uint8_t version4 = 0;
  for (std::size_t n = 0; n <= std::min<std::size_t>(size, 8); ++n) {
    const std::string sig = n < 3 ? "old" : std::string(reinterpret_cast<const char*>(data), 3);
    SwfHeaderState state;
    state.swfSignature = "old";
    state.swfVersion = 77;
    ErrorCode rc = classifySwfHeader(data, n, state);
    FUZZ_CHECK(state.swfSignature == sig && state.swfVersion == 77);
    if (n < 3) FUZZ_CHECK(rc == ioErrReadPastEnd);
    else FUZZ_CHECK((rc == errOk) == (sig == "FWS" || sig == "CWS") && (rc == errOk || rc == errNotSwfFile));
    ErrorCode classified = rc;

    state.swfVersion = 77;
    rc = checkFwsHeader(data, n, state);
    FUZZ_CHECK(state.swfSignature == sig);
    if (n < 4 || sig != "FWS") {
      // Too short or not uncompressed: no version was read, and the refusal
      // is the same as the signature's own, or a short read.
      FUZZ_CHECK(rc != errOk && state.swfVersion == 0);
      FUZZ_CHECK(rc == ioErrReadPastEnd || (rc == errNotSwfFile && sig != "FWS"));
    } else {
      const int v = data[3];
      FUZZ_CHECK(classified == errOk && state.swfVersion == v);  // a refused version is still reported
      if (v < kOldestPlayed) FUZZ_CHECK(rc == errSwfVersionTooLow);
      else if (v > kNewestPlayed) FUZZ_CHECK(rc == errSwfVersionTooHigh);
      else FUZZ_CHECK(rc == errOk);
    }
    // The length field (bytes 4 to 7) never changes an answer.
    if (n == 4) {
      at4[0] = classified, at4[1] = rc;
      version4 = state.swfVersion;
    } else if (n > 4) {
      FUZZ_CHECK(classified == at4[0] && rc == at4[1] && state.swfVersion == version4);
    }
  }
  return 0;
}

// ------------------------------------------------------------ Flash version

int flashVersionImpl(const std::uint8_t* data, std::size_t size)
{
  std::string text(reinterpret_cast<const char*>(data), size);
  std::int32_t major = -7, revision = -9;
  bool ok = parseFlashVersionString(text, major, revision);
  if (!ok) {
    FUZZ_CHECK(major == -7 && revision == -9);  // untouched on failure
  } else {
    FUZZ_CHECK(major >= 0 && revision >= 0);
    // The canonical form of what was parsed parses to the same numbers.
    std::int32_t m2 = -1, r2 = -1;
    std::string canonical = "WIN " + std::to_string(major) + ",0," + std::to_string(revision) + ",0";
    FUZZ_CHECK(parseFlashVersionString(canonical, m2, r2) && m2 == major && r2 == revision);
  }
  // A run of separators counts as one, also at the start.
  std::int32_t m3 = -7, r3 = -9;
  FUZZ_CHECK(parseFlashVersionString(", \t" + text, m3, r3) == ok && m3 == major && r3 == revision);
  if (!ok) return 0;

  // The decisions taken on a parsed version.  A package carries installer
  // 0 or 1 (the header's flashAXInstallerVersion); other indices are corrupt.
  std::uint8_t pick = size ? data[0] : 0;
  const int index = pick % 4 - 1;
  std::int32_t reqMajor = -5, reqRevision = -5;
  bool carried = requiredFlashVersion(index, reqMajor, reqRevision);
  FUZZ_CHECK(carried == (index == 0 || index == 1));
  if (!carried) FUZZ_CHECK(reqMajor == -5 && reqRevision == -5);
  FlashDecision d = decideFlashUpdate(true, major, revision, carried, reqMajor, reqRevision);
  FUZZ_CHECK(d != FlashDecision::CleanInstall && d != FlashDecision::TellUserToDownload);  // a player is there
  const bool runsInstaller = d == FlashDecision::MajorUpdate || d == FlashDecision::MinorUpdate;
  if (!carried) FUZZ_CHECK(d == FlashDecision::None);
  if (carried) {
    // The carried installer runs only to bring a newer player, always when
    // its major version is newer, and never for an unknown revision (0) of
    // the same major version.
    const bool newer = reqMajor > major || (reqMajor == major && reqRevision > revision);
    FUZZ_CHECK(!runsInstaller || newer);
    if (reqMajor > major) FUZZ_CHECK(runsInstaller);
    if (reqMajor == major && revision == 0) FUZZ_CHECK(!runsInstaller);
    if (reqMajor == major && revision != 0) FUZZ_CHECK(runsInstaller == newer);
    // An older player of the same major version is updated if this one is.
    if (runsInstaller && revision > 1)
      FUZZ_CHECK(decideFlashUpdate(true, major, revision - 1, true, reqMajor, reqRevision) != FlashDecision::None);
  }
  // A player plays the movies of its own major version and older ones.
  std::uint8_t swfVersion = size > 1 ? data[1] : 0;
  ErrorCode movie = playerCheckForMovie(true, major, swfVersion);
  FUZZ_CHECK(movie == errOk || movie == errFlashPlayerTooOld);
  FUZZ_CHECK((movie == errOk) == (std::int32_t{swfVersion} <= major));
  FUZZ_CHECK(playerCheckForMovie(false, major, swfVersion) != errOk);
  return 0;
}

// ------------------------------------------------------------ inflate stream

// What zlib itself makes of the data, up to a cap.
struct InflateReference {
  enum class End { Complete, Truncated, Bad, Capped } end;
  std::span<const std::uint8_t> out;  // in a buffer reused by the next call
  std::size_t consumed = 0;           // compressed bytes, when complete or truncated
};

constexpr std::size_t kInflateCap = 1 << 20;

InflateReference inflateReference(const std::string& z)
{
  static std::vector<std::uint8_t> buffer(kInflateCap);
  InflateReference ref;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) std::abort();
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(z.data()));
  zs.avail_in = static_cast<uInt>(z.size());
  zs.next_out = buffer.data();
  zs.avail_out = static_cast<uInt>(kInflateCap);
  int r = inflate(&zs, Z_FINISH);
  ref.out = std::span<const std::uint8_t>(buffer.data(), kInflateCap - zs.avail_out);
  if (r == Z_STREAM_END) {
    ref.end = InflateReference::End::Complete;
    ref.consumed = z.size() - zs.avail_in;
  } else if (r == Z_BUF_ERROR && zs.avail_out == 0) {
    ref.end = InflateReference::End::Capped;
  } else if (r == Z_BUF_ERROR && zs.avail_in == 0) {
    ref.end = InflateReference::End::Truncated;  // the data ends early: all of it was good
    ref.consumed = z.size();
  } else {
    ref.end = InflateReference::End::Bad;  // bad data or a dictionary
  }
  inflateEnd(&zs);
  return ref;
}

bool isInvalidOperation(const EZDecompressionError& e)
{
  return std::string_view(e.what()) == "Invalid ZStream operation!";
}

// Byte 0: the low 4 bits give how many operation bytes follow (cycled when
// there are fewer operations than that; none: read to the end in one
// block), the high 4 bits how many bytes of other data stand in the source
// before the zlib stream.  The rest of the input is the zlib stream and
// whatever follows it.  Each operation byte: the top 3 bits choose the
// operation, the low 5 bits its size.
int inflateStreamImpl(const std::uint8_t* data, std::size_t size)
{
  if (size == 0) return 0;
  std::size_t opCount = std::min<std::size_t>(data[0] & 15, size - 1);
  const std::uint8_t* ops = data + 1;
  std::size_t prefix = data[0] >> 4;
  std::string z(reinterpret_cast<const char*>(data + 1 + opCount), size - 1 - opCount);
  InflateReference ref = inflateReference(z);
  // The stream ends without an error: complete, or cut short (the end of
  // the source ends the data).
  const bool complete = ref.end == InflateReference::End::Complete || ref.end == InflateReference::End::Truncated;

  MemorySourceStream source(std::string(prefix, 'P') + z);
  FUZZ_CHECK(source.seek(static_cast<std::int64_t>(prefix), SeekOrigin::Beginning) == std::int64_t(prefix));
  auto stream = std::make_unique<TZDecompressionStream>(source);
  stream->OnProgress = [&](TCustomZStream& s) { FUZZ_CHECK(&s == stream.get()); };

  static constexpr std::size_t kSizes[32] = {0,    1,    2,     3,     5,     7,     8,     13,
                                             16,   31,   64,    100,   255,   256,   511,   1000,
                                             1024, 4095, 4096,  4097,  8191,  8192,  8193,  16384,
                                             32768, 65535, 65536, 65537, 100000, 131072, 200000, 1 << 20};
  static std::vector<unsigned char> buffer(1 << 20);
  std::size_t pos = 0;    // bytes produced since the last restart
  bool ended = false;     // a read came back short: the stream is over
  bool moved = false;     // the source was moved behind the stream's back
  // How far the reference can vouch for the bytes: bad data must fail
  // one byte after the last good one, capped output is known to the cap.
  const std::size_t known = ref.out.size() + (ref.end == InflateReference::End::Bad ? 1 : 0);
  std::size_t steps = opCount ? 48 : 1;
  Chooser choose(data, size);

  // The bytes handed out agree with zlib's, and a read comes back short only
  // at the real end of a complete or cut-short stream.
  auto checkRead = [&](std::size_t asked, std::size_t got) {
    FUZZ_CHECK(got <= asked);
    FUZZ_CHECK(pos + got <= ref.out.size());
    FUZZ_CHECK(std::memcmp(buffer.data(), ref.out.data() + pos, got) == 0);
    pos += got;
    if (got < asked) {
      FUZZ_CHECK(complete && pos == ref.out.size());
      ended = true;
      if (moved) return;
      // The source stands right after the compressed data (at its end when cut short).
      FUZZ_CHECK(source.position() == static_cast<std::int64_t>(prefix + ref.consumed));
      std::size_t after = std::min<std::size_t>(z.size() - ref.consumed, 8);
      char next[8];
      FUZZ_CHECK(source.read(next, after) == after);
      FUZZ_CHECK(std::memcmp(next, z.data() + ref.consumed, after) == 0);
      moved = true;
    }
  };

  try {
    for (std::size_t step = 0; step < steps; ++step) {
      std::uint8_t op = opCount ? ops[step % opCount] : 0;
      std::size_t amount = opCount ? kSizes[op & 31] : buffer.size();
      if (!complete && pos + amount > known) amount = known - pos;
      switch (op >> 5) {
      case 0:
      case 1:
      case 2: {
        std::size_t got = stream->Read(buffer.data(), amount);
        if (!ended) checkRead(amount, got);
        else FUZZ_CHECK(got == 0);
        break;
      }
      case 3: {  // skip forward
        std::int64_t at = stream->Seek(static_cast<std::int64_t>(amount), SeekOrigin::Current);
        FUZZ_CHECK(complete || pos + amount <= ref.out.size());
        pos = std::min(pos + amount, ref.out.size());
        FUZZ_CHECK(at == static_cast<std::int64_t>(pos));
        break;
      }
      case 4:  // restart
        FUZZ_CHECK(stream->Seek(0, SeekOrigin::Beginning) == 0);
        pos = 0;
        ended = moved = false;
        break;
      case 5: {  // an absolute position: forward is a skip, backward is refused
        std::int64_t target = static_cast<std::int64_t>(pos) + static_cast<std::int64_t>(amount) - 16;
        if (target < 0) target = 0;
        if (target == 0 || target >= static_cast<std::int64_t>(pos)) {
          if (target == 0) {
            FUZZ_CHECK(stream->Seek(0, SeekOrigin::Beginning) == 0);
            pos = 0;
            ended = moved = false;
            break;
          }
          std::int64_t at = stream->Seek(target, SeekOrigin::Beginning);
          pos = std::min<std::size_t>(static_cast<std::size_t>(target), ref.out.size());
          FUZZ_CHECK(at == static_cast<std::int64_t>(pos));
          break;
        }
        try {
          stream->Seek(target, SeekOrigin::Beginning);
          FUZZ_CHECK(!"a backward seek was accepted");
        } catch (const EZDecompressionError& e) {
          FUZZ_CHECK(isInvalidOperation(e));
        }
        FUZZ_CHECK(stream->position() == static_cast<std::int64_t>(pos));
        break;
      }
      case 6:  // to the end, when the reference knows where that is
        if (!complete) break;
        FUZZ_CHECK(stream->Seek(0, SeekOrigin::End) == static_cast<std::int64_t>(ref.out.size()));
        pos = ref.out.size();
        break;
      case 7: {  // someone else moves the source; refused operations change nothing
        source.seek(static_cast<std::int64_t>(choose.below(z.size() + prefix + 4)), SeekOrigin::Beginning);
        moved = true;
        const std::pair<std::int64_t, SeekOrigin> refused[] = {
            {-1, SeekOrigin::Current}, {1, SeekOrigin::End}, {-1, SeekOrigin::End}, {-1, SeekOrigin::Beginning}};
        auto [offset, origin] = refused[op & 3];
        try {
          stream->Seek(offset, origin);
          FUZZ_CHECK(!"a refused seek was accepted");
        } catch (const EZDecompressionError& e) {
          FUZZ_CHECK(isInvalidOperation(e));
        }
        try {
          stream->Write(data, 1);
          FUZZ_CHECK(!"a write was accepted");
        } catch (const EZDecompressionError& e) {
          FUZZ_CHECK(isInvalidOperation(e));
        }
        FUZZ_CHECK(stream->position() == static_cast<std::int64_t>(pos));
        break;
      }
      }
      FUZZ_CHECK(stream->position() == static_cast<std::int64_t>(pos));
    }
  } catch (const EZDecompressionError& e) {
    // Bad data, never a complete or cut-short stream.  (A failing read drops
    // the bytes it inflated before the error, so the error may come before
    // the reference's last good byte.)
    FUZZ_CHECK(!isInvalidOperation(e));
    FUZZ_CHECK(!complete);
  }
  return 0;
}

// ------------------------------------------------------------ names

bool isDeviceBase(std::string_view component)
{
  std::string base(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
    return true;
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  std::string d = base.substr(3);
  return (d.size() == 1 && d[0] >= '0' && d[0] <= '9') || d == "\xC2\xB9" || d == "\xC2\xB2" || d == "\xC2\xB3";
}

std::string withCase(std::string_view s, bool upper)
{
  std::string out(s);
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// What a safe entry name can never be, checked without the name rules' own
// code: each backslash-separated component a plain, non-empty name that
// Windows neither alters nor maps to a device, nothing that leaves the
// folder.
void checkSafeEntryShape(std::string_view name)
{
  FUZZ_CHECK(!name.empty() && utf16Length(name) <= 255 && isValidUtf8(name));
  FUZZ_CHECK(name.front() != '\\' && name.back() != '\\');
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    FUZZ_CHECK(c >= 32 && !std::strchr("<>:\"/|?*", c));
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find('\\', start);
    std::string_view component = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    FUZZ_CHECK(!component.empty() && component != "." && component != "..");
    FUZZ_CHECK(component.back() != '.' && component.back() != ' ');
    FUZZ_CHECK(!isDeviceBase(component));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

// An install journal read back from the disk, where anyone may have planted
// or damaged it.  What is read is written again the same; and a journal
// the validator accepts touches nothing outside the saver's scope.
int installJournalImpl(const std::uint8_t* data, std::size_t size)
{
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<ParsedJournal> parsed = parseJournal(text);
  if (!parsed) return 0;
  std::string again = std::string(parsed->legacy ? kJournalSignatureV1 : kJournalSignature) + "\n";
  for (const JournalRecord& r : parsed->records) again += journalLine(r);
  std::optional<ParsedJournal> back = parseJournal(again);
  FUZZ_CHECK(back && back->legacy == parsed->legacy && back->records.size() == parsed->records.size());
  for (std::size_t i = 0; i < back->records.size(); ++i) FUZZ_CHECK(journalLine(back->records[i]) == journalLine(parsed->records[i]));

  JournalScope scope = saverJournalScope("Saver", "C:\\ProgramData\\Brindlefax\\", "C:\\Windows\\",
                                         {"C:\\Windows\\", "C:\\Windows\\system32\\", "C:\\ProgramData\\Brindlefax\\"});
  if (!journalScopeProblem(parsed->records, scope).empty()) return 0;
  auto inScope = [&scope](const std::string& path) {
    if (samePath(path, "C:\\ProgramData\\Brindlefax\\Saver") || isPlainPathBelow(path, scope.saverFolder)) return true;
    return std::any_of(scope.files.begin(), scope.files.end(), [&path](const std::string& f) { return samePath(path, f); });
  };
  JournalProgress progress = journalProgress(parsed->records);
  FUZZ_CHECK(progress.undone.size() == parsed->records.size());
  for (const JournalRecord& r : parsed->records) {
    if (r.kind == JournalRecord::Kind::Aside) FUZZ_CHECK(inScope(r.path) && isBackupPathOf(r.backup, r.path));
    if (r.kind == JournalRecord::Kind::Created) FUZZ_CHECK(inScope(r.path));
    if (r.kind == JournalRecord::Kind::Uninstall) FUZZ_CHECK(r.path == "Saver");
  }
  return 0;
}

int namesImpl(const std::uint8_t* data, std::size_t size)
{
  std::string_view name(reinterpret_cast<const char*>(data), size);
  bool item = isSafeItemFileName(name);
  bool entry = isSafeEntryName(name);
  bool saver = isValidSaverName(name);

  FUZZ_CHECK(saver == (utf16Length(name) <= 64 && item && !looksLikeShortName(name)));
  FUZZ_CHECK(item == (entry && name.find('\\') == std::string_view::npos));
  if (entry) checkSafeEntryShape(name);
  // The rules ignore letter case, as Windows does.
  for (bool upper : {false, true}) {
    std::string other = withCase(name, upper);
    FUZZ_CHECK(isSafeItemFileName(other) == item);
    FUZZ_CHECK(isSafeEntryName(other) == entry);
    FUZZ_CHECK(isValidSaverName(other) == saver);
  }
  // A path of safe components is safe while it fits.
  std::size_t split = size ? name.find('\x01') : std::string_view::npos;
  if (split != std::string_view::npos) {
    std::string_view a = name.substr(0, split), b = name.substr(split + 1);
    std::string joined = std::string(a) + "\\" + std::string(b);
    if (isSafeEntryName(a) && isSafeEntryName(b))
      FUZZ_CHECK(isSafeEntryName(joined) == (utf16Length(joined) <= 255));
  }

  // The preview's renaming keeps names within the field and the extension
  // the preview loader needs.
  if (utf16Length(name) <= kMaxItemNameLength) {
    for (std::uint8_t mode : {std::uint8_t{1}, std::uint8_t{8}, std::uint8_t{2}}) {
      std::string preview = previewFileName(mode, name);
      FUZZ_CHECK(utf16Length(preview) <= kMaxItemNameLength);
      if (item && mode != 2) FUZZ_CHECK(isValidUtf8(preview));  // cut by whole characters
      if (mode == 1) FUZZ_CHECK(preview.ends_with(".BMP"));
      if (mode == 8) FUZZ_CHECK(preview.ends_with(".jpg"));
      if (mode == 2) FUZZ_CHECK(preview == name);
    }
  }
  // Package bytes in a code page: text exactly when well formed there (a
  // lead byte never ends a name or swallows what cannot follow it), and the
  // text goes back to bytes that read as the same text: the same bytes in
  // a single-byte code page; in 932 a character with two encodings (the
  // duplicated IBM and NEC extensions) may come back in the other one.  A
  // 0x5C trail byte never splits.
  for (unsigned codePage : {932u, 1251u, 1252u}) {
    std::optional<std::string> text = ansiToUtf8(name, codePage);
    if (!text) continue;
    FUZZ_CHECK(isValidUtf8(*text));
    std::optional<std::string> back = utf8ToAnsi(*text, codePage);
    FUZZ_CHECK(back && ansiToUtf8(*back, codePage) == text);
    if (codePage != 932) FUZZ_CHECK(*back == std::string(name));
    std::size_t separators = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (isLeadByte(codePage, data[i])) {
        FUZZ_CHECK(i + 1 < size);
        ++i;
      } else if (data[i] == '\\') {
        ++separators;
      }
    }
    FUZZ_CHECK(separators == static_cast<std::size_t>(std::count(text->begin(), text->end(), '\\')));
  }
  // Only the item types with a destination have a name to write.
  for (std::int32_t type = -1; type <= 11; ++type) {
    std::optional<std::string> written = itemDestinationName(type, name);
    FUZZ_CHECK(written.has_value() == ((type >= 1 && type <= 7) || type == 10));
    if (type == 3 && written && *written != name) FUZZ_CHECK(written->ends_with(".dll"));
  }
  return 0;
}

constexpr FuzzHarness kHarnesses[] = {
    {"package_header", fuzzPackageHeader}, {"data_file", fuzzDataFile},
    {"explode", fuzzExplode},              {"implode_roundtrip", fuzzImplodeRoundtrip},
    {"swf_reader", fuzzSwfReader},         {"flash_version", fuzzFlashVersion},
    {"inflate_stream", fuzzInflateStream}, {"names", fuzzNames},
    {"pe_signing", fuzzPeSigning}, {"install_journal", fuzzInstallJournal},
};

}  // namespace

void setFuzzFailureHandler(FuzzFailureHandler handler) { gFailureHandler = handler; }

void fuzzFail(const char* message)
{
  if (gFailureHandler) gFailureHandler(message);
  std::fprintf(stderr, "fuzz property failed: %s\n", message);
  std::fflush(stderr);
  std::abort();
}

std::span<const FuzzHarness> fuzzHarnesses() { return kHarnesses; }

int fuzzPackageHeader(const std::uint8_t* data, std::size_t size) { return packageHeaderImpl(data, size); }
int fuzzDataFile(const std::uint8_t* data, std::size_t size) { return dataFileImpl(data, size); }
int fuzzExplode(const std::uint8_t* data, std::size_t size) { return explodeImpl(data, size); }
int fuzzImplodeRoundtrip(const std::uint8_t* data, std::size_t size) { return implodeRoundtripImpl(data, size); }
int fuzzSwfReader(const std::uint8_t* data, std::size_t size) { return swfReaderImpl(data, size); }
int fuzzFlashVersion(const std::uint8_t* data, std::size_t size) { return flashVersionImpl(data, size); }
int fuzzInflateStream(const std::uint8_t* data, std::size_t size) { return inflateStreamImpl(data, size); }
int fuzzNames(const std::uint8_t* data, std::size_t size) { return namesImpl(data, size); }
int fuzzPeSigning(const std::uint8_t* data, std::size_t size) { return peSigningImpl(data, size); }
int fuzzInstallJournal(const std::uint8_t* data, std::size_t size) { return installJournalImpl(data, size); }
