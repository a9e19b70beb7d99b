// CRC-32 of IEEE 802.3 in its reflected form (polynomial 0xEDB88320, initial
// register 0xFFFFFFFF, final complement), as used by zlib and PKZIP.
// Check value: the CRC-32 of "123456789" is 0xCBF43926.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace crc32_detail {
constexpr std::array<std::uint32_t, 256> makeTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
}  // namespace crc32_detail

// Built by the compiler; nothing is computed at run time.
inline constexpr std::array<std::uint32_t, 256> crcTable = crc32_detail::makeTable();
static_assert(crcTable[1] == 0x77073096u && crcTable[255] == 0x2D02EF8Du);

// CRC-32 of the table's 1024 bytes (entries in little-endian order).
constexpr std::uint32_t kCrcTableCheckValue = 0x6FCF9E13u;

// Folds `length` bytes into `reg` without initial value or complement:
// reg := table[(b ^ reg) & 0xFF] ^ (reg >> 8) for each byte b.
void crcUpdate(const void* data, std::uint32_t length, std::uint32_t& reg);

// CRC-32 of the table itself, recomputed from its bytes.
std::uint32_t crcTableCheck();

// Checks the table, then sets `result` to the CRC-32 of the string's bytes
// (0 for an empty string).  If the table check fails, returns false and
// leaves `result` unchanged; the Windows caller then shows
// crcTableMismatchMessage(crcTableCheck()).
bool crc32OfString(const std::string& s, std::uint32_t& result);

// "CRC32 Table CRC32 is " + 8 upper-case hex digits + ", expecting $6FCF9E13".
std::string crcTableMismatchMessage(std::uint32_t value);

// CRC-32 of a whole buffer, chainable like zlib's crc32():
// crc32(b, nb, crc32(a, na)) is the CRC-32 of a followed by b.
std::uint32_t crc32(const void* data, std::size_t length, std::uint32_t previous = 0);
