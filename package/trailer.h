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
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

constexpr std::size_t kTrailerSize = 16;
constexpr std::array<std::uint8_t, 8> kTrailerMarker = {0x89, 'P', 'K', 'G', 'E', 'N', 'D', 0x1A};

enum class TrailerCheck {
  Absent,    // no marker at the end: an installer built without a trailer
  Valid,     // marker, length and CRC all match
  Mismatch,  // marker present but the length or the CRC is wrong
};

// The 16 trailer bytes for a file whose bytes before the trailer have `crc`.
std::vector<std::uint8_t> serializeTrailer(std::uint32_t crc);

// Appends the trailer for the current content of `file`.
void appendTrailer(std::vector<std::uint8_t>& file);

// Checks a file fed in order, in blocks of any size (so a large installer can
// be verified while it is read).  Call update() for every block, then
// finish(); finish() does not change the state.
class TrailerChecker {
 public:
  void update(const void* data, std::size_t length);
  TrailerCheck finish() const;
  // Bytes seen so far, trailer included.
  std::uint64_t bytesSeen() const { return total_; }

 private:
  std::uint32_t crc_ = 0;                  // of every byte before tail_
  std::array<std::uint8_t, kTrailerSize> tail_{};  // the last bytes seen
  std::size_t tailLength_ = 0;
  std::uint64_t total_ = 0;
};

// The whole file in memory.
TrailerCheck checkTrailer(std::span<const std::uint8_t> file);
