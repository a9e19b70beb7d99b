// CRC-32 with a compile-time table.  crcUpdate is the plain byte-at-a-time
// loop; crc32() checks whole installer files of up to 2 GiB, so it folds 64
// bytes at a time with carry-less multiplication where the processor has it
// (x86 with PCLMULQDQ and SSE4.1, checked at run time), else it uses
// slicing-by-8 (eight derived tables, also built by the compiler).
#include "base/crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CRC32_HAS_CLMUL 1
#endif

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

#ifdef CRC32_HAS_CLMUL
// Folding with carry-less multiplication over the bit-reflected polynomial
// (Gopal et al., "Fast CRC Computation for Generic Polynomials Using
// PCLMULQDQ Instruction", Intel 2009): four 128-bit lanes are folded 64
// bytes ahead, then into one lane, then reduced to 32 bits (Barrett).
// n is at least 64 and a multiple of 16; reg is the running register.
#define CRC32_CLMUL __attribute__((target("pclmul,sse4.1")))

CRC32_CLMUL inline __m128i load(const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }

// x * k (both 64-bit halves, carry-less) + next: x moved 128 (or 512) bits on.
CRC32_CLMUL inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

CRC32_CLMUL std::uint32_t updateFolded(std::uint32_t reg, const std::uint8_t* p,
                                                                    std::size_t n) {
  alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4ull, 0x01c6e41596ull};
  alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0ull, 0x00ccaa009eull};
  alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124ull, 0};
  alignas(16) static const std::uint64_t poly[] = {0x01db710641ull, 0x01f7011641ull};
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  p += 64;
  n -= 64;
  for (; n >= 64; p += 64, n -= 64) {
    x1 = fold(x1, k, load(p));
    x2 = fold(x2, k, load(p + 16));
    x3 = fold(x3, k, load(p + 32));
    x4 = fold(x4, k, load(p + 48));
  }
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = fold(x1, k, x2);
  x1 = fold(x1, k, x3);
  x1 = fold(x1, k, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = fold(x1, k, load(p));
  // 128 bits to 64, then Barrett reduction to 32.
  __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i x2b = _mm_clmulepi64_si128(x1, k, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2b = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x00), x2b);
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2b = _mm_clmulepi64_si128(_mm_and_si128(x1, mask), k, 0x10);
  x2b = _mm_clmulepi64_si128(_mm_and_si128(x2b, mask), k, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, x2b), 1));
}

bool hasFolding() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  return has;
}
#endif

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
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  std::uint32_t reg = ~previous;
#ifdef CRC32_HAS_CLMUL
  if (length >= 64 && hasFolding()) {
    std::size_t folded = length & ~std::size_t{15};
    reg = updateFolded(reg, p, folded);
    p += folded;
    length -= folded;
  }
#endif
  return ~updateSliced(reg, p, length);
}
