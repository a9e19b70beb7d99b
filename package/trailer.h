// Integrity trailer appended by the packager after the last item.
//
// Layout, the last 16 bytes of the installer file:
//   offset 0  u32  CRC-32 of every byte of the file before the trailer
//   offset 4  u32  trailer length (16)
//   offset 8  8    marker 89 50 4B 47 45 4E 44 1A ("\x89PKGEND\x1a")
// The marker comes last so the trailer is found from the end of the file;
// the high first byte and the ^Z make it unlikely at the end of text or
// of a typical item.  The stub reads items at absolute offsets, so it never
// sees the trailer, and an installer without one is still accepted.
//
// Signing: the CRC reads the stub's PE checksum and certificate-table entry
// as zero (package/pe_header.h), as the Authenticode hash leaves them out.
// A signed file (the entry points at a table that ends the file) has its
// trailer right before the table, or before the up to 7 zero bytes that
// align the table (a file whose size was no multiple of 8 when it was
// signed); the table itself is outside the check.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "package/pe_header.h"

constexpr std::size_t kTrailerSize = 16;
constexpr std::array<std::uint8_t, 8> kTrailerMarker = {0x89, 'P', 'K', 'G', 'E', 'N', 'D', 0x1A};

enum class TrailerCheck {
  Absent,    // no marker at the end: an installer built without a trailer
  Valid,     // marker, length and CRC all match
  Mismatch,  // marker present (or one byte off) but the length or the CRC is wrong
};

// Zero bytes the packager puts between the package and the trailer so that
// the file's size is a multiple of 8: a signing tool then appends its table
// right behind the trailer, with no padding of its own.
constexpr std::uint64_t trailerPadding(std::uint64_t packageEnd) { return (8 - (packageEnd + 16) % 8) % 8; }

// The 16 trailer bytes for a file whose bytes before the trailer have `crc`.
std::vector<std::uint8_t> serializeTrailer(std::uint32_t crc);

// CRC-32 of a file's first bytes with the signing fields read as zero, to be
// continued with crc32() over the rest.  `head` holds at least the first
// kPeHeadSize bytes of the file or the whole file.
std::uint32_t trailerCrcOfHead(std::span<const std::uint8_t> head);

// Appends the trailer for the current content of `file`.
void appendTrailer(std::vector<std::uint8_t>& file);

// Where the trailer starts in `before`, the bytes that end where the checked
// range ends (the file's end, or the certificate table's start if signed);
// with `padded`, up to kMaxSignaturePadding zero bytes may follow it.
std::optional<std::size_t> findTrailer(std::span<const std::uint8_t> before, bool padded);
// True if `before` ends in a trailer whose marker, or (with `padded`) the zero
// padding after it, has one byte changed: a damaged trailer, not a file
// without one.
bool endsInDamagedTrailer(std::span<const std::uint8_t> before, bool padded);

// Where the package's bytes end, given the file's size and a reader of bytes
// at an offset (false: the read failed): before the trailer and the
// signature, when there are any.
using ReadAtFn = std::function<bool(std::uint64_t offset, std::uint8_t* dst, std::size_t n)>;
std::uint64_t packageContentEnd(std::uint64_t fileSize, const ReadAtFn& readAt);

// Checks a file fed in order, in blocks of any size (so a large installer can
// be verified while it is read).  Call update() for every block, then
// finish(); finish() does not change the state.
// A file whose certificate-table entry is set but does not point at a table
// that ends the file is damaged: Mismatch.
class TrailerChecker {
 public:
  void update(const void* data, std::size_t length);
  TrailerCheck finish() const;
  // Bytes seen so far, trailer included.
  std::uint64_t bytesSeen() const { return total_; }

 private:
  static constexpr std::size_t kTailSize = kTrailerSize + kMaxSignaturePadding;

  void endHead();
  void feed(const std::uint8_t* p, std::size_t length);

  std::vector<std::uint8_t> head_;         // the first bytes, until the PE fields are known
  bool headDone_ = false;
  std::optional<PeSigningFields> pe_;
  std::uint64_t checkedEnd_ = UINT64_MAX;  // bytes from here on are the signature
  std::uint64_t fed_ = 0;                  // bytes passed to the CRC and the tail
  std::uint32_t crc_ = 0;                  // of every fed byte before tail_
  std::array<std::uint8_t, kTailSize> tail_{};  // the last fed bytes
  std::size_t tailLength_ = 0;
  std::uint64_t total_ = 0;
};

// The whole file in memory.
TrailerCheck checkTrailer(std::span<const std::uint8_t> file);
