// CRC-32 with a compile-time table.  crcUpdate is the plain byte-at-a-time
// loop; crc32() uses slicing-by-8 (eight derived tables, also built by the
// compiler) because it checks whole installer files of up to 2 GiB.
#include "base/crc32.h"

namespace {

using Slices = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Slices makeSlices() {
  Slices s{};
  s[0] = crcTable;
  for (int k = 1; k < 8; ++k)
    for (int n = 0; n < 256; ++n) s[k][n] = (s[k - 1][n] >> 8) ^ crcTable[s[k - 1][n] & 0xFF];
  return s;
}

constexpr Slices kSlices = makeSlices();

std::uint32_t updateSliced(std::uint32_t reg, const std::uint8_t* p, std::size_t n) {
  while (n >= 8) {
    std::uint32_t lo = reg ^ (static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                              (static_cast<std::uint32_t>(p[2]) << 16) |
                              (static_cast<std::uint32_t>(p[3]) << 24));
    reg = kSlices[7][lo & 0xFF] ^ kSlices[6][(lo >> 8) & 0xFF] ^ kSlices[5][(lo >> 16) & 0xFF] ^
          kSlices[4][lo >> 24] ^ kSlices[3][p[4]] ^ kSlices[2][p[5]] ^ kSlices[1][p[6]] ^
          kSlices[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n--) reg = crcTable[(*p++ ^ reg) & 0xFF] ^ (reg >> 8);
  return reg;
}

}  // namespace

void crcUpdate(const void* data, std::uint32_t length, std::uint32_t& reg) {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  for (std::uint32_t i = 0; i < length; ++i) reg = crcTable[(p[i] ^ reg) & 0xFF] ^ (reg >> 8);
}

std::uint32_t crcTableCheck() {
  std::uint8_t bytes[4 * 256];
  for (std::size_t i = 0; i < 256; ++i) {
    std::uint32_t v = crcTable[i];
    bytes[4 * i] = static_cast<std::uint8_t>(v);
    bytes[4 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    bytes[4 * i + 2] = static_cast<std::uint8_t>(v >> 16);
    bytes[4 * i + 3] = static_cast<std::uint8_t>(v >> 24);
  }
  std::uint32_t reg = 0xFFFFFFFFu;
  crcUpdate(bytes, sizeof bytes, reg);
  return ~reg;
}

bool crc32OfString(const std::string& s, std::uint32_t& result) {
  if (crcTableCheck() != kCrcTableCheckValue) return false;
  std::uint32_t reg = 0xFFFFFFFFu;
  // Strings longer than 4 GiB cannot occur here (paths); fold in pieces anyway.
  const char* p = s.data();
  std::size_t left = s.size();
  while (left > 0) {
    std::uint32_t chunk = left > 0x40000000u ? 0x40000000u : static_cast<std::uint32_t>(left);
    crcUpdate(p, chunk, reg);
    p += chunk;
    left -= chunk;
  }
  result = ~reg;
  return true;
}

std::string crcTableMismatchMessage(std::uint32_t value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) hex[static_cast<std::size_t>(i)] = kHex[value & 0xF];
  return "CRC32 Table CRC32 is " + hex + ", expecting $6FCF9E13";
}

std::uint32_t crc32(const void* data, std::size_t length, std::uint32_t previous) {
  if (length == 0) return previous;
  return ~updateSliced(~previous, static_cast<const std::uint8_t*>(data), length);
}
