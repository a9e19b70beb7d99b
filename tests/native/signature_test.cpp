// The integrity trailer of signed installers: the PE fields a signature
// rewrites are found in both image kinds and read as zero; a table appended
// by a signing tool (with or without alignment padding, signed again, by any
// tool) keeps the trailer valid; any other change before the table is
// caught; the package's end is found before trailer and signature.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/crc32.h"
#include "package/package_writer.h"
#include "package/pe_header.h"
#include "package/trailer.h"
#include "tools/saverpack/sign.h"
#include "tools/saverpack/signer_name.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPe = 0x80;  // e_lfanew of the images below

// A stub-sized file with the headers of a PE32 (or PE32+) image: MZ, the
// PE signature, a COFF header and an optional header with 16 directories.
Bytes peStub(bool plus, std::size_t size = 691200) {
  Bytes b(size, 0xCC);
  std::fill(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 0x400)), 0);
  b[0] = 'M';
  b[1] = 'Z';
  storeLe32(&b[0x3C], kPe);
  b[kPe] = 'P';
  b[kPe + 1] = 'E';
  storeLe16(&b[kPe + 4 + 16], plus ? 0xF0 : 0xE0);     // SizeOfOptionalHeader
  std::size_t opt = kPe + 24;
  storeLe16(&b[opt], plus ? 0x20B : 0x10B);
  storeLe32(&b[opt + 64], 0x00012345);                  // a checksum
  storeLe32(&b[opt + (plus ? 108 : 92)], 16);           // NumberOfRvaAndSizes
  return b;
}

std::size_t entryAt(bool plus) { return kPe + 24 + (plus ? 112 : 96) + 32; }
std::size_t checksumAt() { return kPe + 24 + 64; }

// What a signing tool does: pads to 8 bytes, sets the checksum and the
// certificate-table entry, appends the table.  A signed file is re-signed
// as the tools do it: the old table is cut off first.
Bytes sign(Bytes file, std::uint32_t tableSize, std::uint32_t checksum, bool plus) {
  std::optional<PeSigningFields> pe = parsePeSigningFields(file);
  if (pe && pe->signedWithin(file.size())) file.resize(pe->certOffset);
  while (file.size() % 8) file.push_back(0);
  storeLe32(&file[checksumAt()], checksum);
  storeLe32(&file[entryAt(plus)], static_cast<std::uint32_t>(file.size()));
  storeLe32(&file[entryAt(plus) + 4], tableSize);
  for (std::uint32_t i = 0; i < tableSize; ++i) file.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  return file;
}

Bytes sealedInstaller(bool plus) {
  PackageBuilder b;
  return b.build(peStub(plus), {.trailer = true});
}

std::uint64_t contentEnd(const Bytes& file) {
  return packageContentEnd(file.size(), [&](std::uint64_t at, std::uint8_t* dst, std::size_t n) {
    if (at > file.size() || n > file.size() - at) return false;
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), n, dst);
    return true;
  });
}

TEST(PeHeader, FindsTheFieldsOfBothImageKinds) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    Bytes stub = peStub(plus);
    std::optional<PeSigningFields> f = parsePeSigningFields(stub);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->checksumAt, checksumAt());
    EXPECT_EQ(f->certEntryAt, entryAt(plus));
    EXPECT_FALSE(f->hasCertEntry());
    zeroPeSigningFields(stub);
    EXPECT_EQ(loadLe32(&stub[checksumAt()]), 0u);
  }
}

TEST(PeHeader, RejectsWhatIsNoImageOrLiesOutside) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"no MZ", [](Bytes& b) { b[1] = 'X'; }},
      {"PE header beyond the first 4 KiB", [](Bytes& b) { storeLe32(&b[0x3C], 0x1000 - 8); }},
      {"PE header far beyond the file", [](Bytes& b) { storeLe32(&b[0x3C], 0xFFFFFFF0u); }},
      {"no PE signature", [](Bytes& b) { b[kPe + 2] = 1; }},
      {"unknown optional header", [](Bytes& b) { storeLe16(&b[kPe + 24], 0x107); }},
      {"four directories only", [](Bytes& b) { storeLe32(&b[kPe + 24 + 92], 4); }},
      {"optional header too short for the entry", [](Bytes& b) { storeLe16(&b[kPe + 20], 96 + 32); }},
  };
  for (const Case& c : cases) {
    Bytes b = peStub(false);
    c.damage(b);
    EXPECT_FALSE(parsePeSigningFields(b)) << c.what;
  }
  Bytes whole = peStub(false, 0x200);
  EXPECT_TRUE(parsePeSigningFields(whole));
  EXPECT_FALSE(parsePeSigningFields(std::span(whole).first(entryAt(false) + 7)));  // cut inside the entry
  EXPECT_FALSE(parsePeSigningFields({}));
}

// Installers built before signing existed have zero fields: their CRC is
// the plain CRC of every byte, so they still verify.
TEST(SignedTrailer, UnsignedInstallersKeepTheirChecksum) {
  for (bool plus : {false, true}) {
    Bytes stub = peStub(plus);
    storeLe32(&stub[checksumAt()], 0);
    Bytes sealed = PackageBuilder().build(stub, {.trailer = true});
    ASSERT_EQ(checkTrailer(sealed), TrailerCheck::Valid);
    EXPECT_EQ(loadLe32(&sealed[sealed.size() - 16]), crc32(sealed.data(), sealed.size() - 16));
  }
}

TEST(SignedTrailer, SigningAndReSigningKeepTheCheckValid) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    Bytes sealed = sealedInstaller(plus);
    ASSERT_EQ(sealed.size() % 8, 0u);  // a signing tool adds no padding
    ASSERT_EQ(checkTrailer(sealed), TrailerCheck::Valid);
    std::uint64_t end = contentEnd(sealed);
    EXPECT_EQ(end, sealed.size() - kTrailerSize);

    Bytes once = sign(sealed, 1500, 0xABCDEF, plus);
    EXPECT_EQ(once.size(), sealed.size() + 1500);
    EXPECT_EQ(checkTrailer(once), TrailerCheck::Valid);
    EXPECT_EQ(contentEnd(once), end);
    for (std::size_t block : {1u, 7u, 16u, 23u, 4095u, 4096u, 65536u}) {
      TrailerChecker checker;
      for (std::size_t at = 0; at < once.size(); at += block)
        checker.update(once.data() + at, std::min(block, once.size() - at));
      EXPECT_EQ(checker.finish(), TrailerCheck::Valid) << block;
    }

    Bytes twice = sign(once, 2100, 0x77, plus);
    EXPECT_EQ(checkTrailer(twice), TrailerCheck::Valid);
    EXPECT_EQ(contentEnd(twice), end);

    // Without its signature the file is the unsigned one, checksum zeroed.
    std::optional<Bytes> plain = saverpack::withoutSignature(twice);
    ASSERT_TRUE(plain);
    Bytes expected = sealed;
    storeLe32(&expected[checksumAt()], 0);
    EXPECT_EQ(*plain, expected);
    EXPECT_FALSE(saverpack::withoutSignature(sealed));
  }
}

TEST(SignedTrailer, AnyChangeBeforeTheTableIsCaught) {
  Bytes once = sign(sealedInstaller(false), 800, 0x1234, false);
  std::uint32_t table = loadLe32(&once[entryAt(false)]);
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    // The entry, the package's last bytes, the trailer and the bytes around
    // the PE header are each hit on purpose.  (A change that makes the file
    // no PE image at all, in "MZ", e_lfanew or "PE", also makes it one that
    // Windows will not start.)
    std::size_t at = round < 16   ? entryAt(false) + static_cast<std::size_t>(round % 8)
                     : round < 40 ? table - 24 + static_cast<std::size_t>(round - 16)
                     : round < 60 ? kPe - 20 + static_cast<std::size_t>(round - 40) * 2
                                  : rng() % table;
    if (at >= kPe && at < kPe + 4) continue;
    if (at >= checksumAt() && at < checksumAt() + 4) continue;  // left out, as the signature's hash does
    std::uint8_t old = once[at];
    once[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    EXPECT_EQ(checkTrailer(once), TrailerCheck::Mismatch) << at;
    once[at] = old;
  }
  // The table itself is the signature's business.
  once[table + 100] ^= 1;
  EXPECT_EQ(checkTrailer(once), TrailerCheck::Valid);
  // An entry that no longer points at the end: damaged.
  once.push_back(0);
  EXPECT_EQ(checkTrailer(once), TrailerCheck::Mismatch);
}

// A file whose size was no multiple of 8 gets zero padding from the signing
// tool: the trailer is found before it.
TEST(SignedTrailer, PaddingBeforeTheTableIsAllowed) {
  for (std::size_t extra = 0; extra < 8; ++extra) {
    Bytes file = peStub(false, 5000 + extra);
    appendTrailer(file);
    Bytes signedFile = sign(file, 64, 9, false);
    EXPECT_EQ(checkTrailer(signedFile), TrailerCheck::Valid) << extra;
    EXPECT_EQ(contentEnd(signedFile), file.size() - kTrailerSize) << extra;
  }
  // Padding after an unsigned file is no trailer position.
  Bytes file = peStub(false, 5000);
  appendTrailer(file);
  file.push_back(0);
  EXPECT_EQ(checkTrailer(file), TrailerCheck::Absent);
}

// One changed byte in the marker or in the padding behind it is a damaged
// trailer, never a file without one: the check must not be skipped.
TEST(SignedTrailer, DamageInThePaddedTailIsCaught) {
  for (std::size_t extra = 0; extra < 8; ++extra) {
    Bytes file = peStub(false, 5000 + extra);
    appendTrailer(file);
    std::size_t markerAt = file.size() - kTrailerMarker.size();
    Bytes signedFile = sign(file, 64, 9, false);
    std::size_t table = loadLe32(&signedFile[entryAt(false)]);
    for (std::size_t at = markerAt; at < table; ++at) {
      std::uint8_t old = signedFile[at];
      for (int value : {old ^ 0x01, old ^ 0x80, old ^ 0xFF, 0}) {
        if (value == old) continue;
        signedFile[at] = static_cast<std::uint8_t>(value);
        EXPECT_EQ(checkTrailer(signedFile), TrailerCheck::Mismatch) << "padding " << table - file.size() << ", byte "
                                                                    << at - markerAt << " of the tail";
      }
      signedFile[at] = old;
    }
  }
}

TEST(SignerName, ReadsNothingFromGarbage) {
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    Bytes table(8 + rng() % 300);
    for (auto& x : table) x = static_cast<std::uint8_t>(rng());
    storeLe32(&table[0], static_cast<std::uint32_t>(table.size()));
    storeLe16(&table[6], 2);
    table[8] = 0x30;
    EXPECT_FALSE(saverpack::signerName(table));
  }
  EXPECT_FALSE(saverpack::signerName({}));
}

}  // namespace
