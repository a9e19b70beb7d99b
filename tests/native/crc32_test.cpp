#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/crc32.h"

namespace {

TEST(Crc32, KnownAnswers) {
  struct Case {
    std::string text;
    std::uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"abc", 0x352441C2u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string("\0\xff\x80", 3), 0x81DDA740u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::uint32_t result = 0x12345678u;
    ASSERT_TRUE(crc32OfString(c.text, result));
    EXPECT_EQ(result, c.crc);
    EXPECT_EQ(crc32(c.text.data(), c.text.size()), c.crc);
  }
}

TEST(Crc32, TableSelfCheckPasses) {
  EXPECT_EQ(crcTableCheck(), kCrcTableCheckValue);
}

TEST(Crc32, MismatchMessage) {
  EXPECT_EQ(crcTableMismatchMessage(0x0012ABCDu), "CRC32 Table CRC32 is 0012ABCD, expecting $6FCF9E13");
  EXPECT_EQ(crcTableMismatchMessage(0xFFFFFFFFu), "CRC32 Table CRC32 is FFFFFFFF, expecting $6FCF9E13");
}

// The bulk routine (folded 64 bytes at a time where the processor can, then
// sliced) must agree with the byte-at-a-time register update for every
// length and alignment, and chain across split buffers.
TEST(Crc32, BulkAgreesWithByteUpdate) {
  std::mt19937 rng(20240611);
  std::vector<std::uint8_t> data(3000);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (std::size_t start = 0; start < 17; ++start) {
    for (std::size_t n = 1; start + n <= data.size(); n += n < 300 ? 7 : 61) {
      std::uint32_t reg = 0xFFFFFFFFu;
      crcUpdate(data.data() + start, static_cast<std::uint32_t>(n), reg);
      ASSERT_EQ(crc32(data.data() + start, n), ~reg) << start << "+" << n;
      std::size_t half = n / 2;
      std::uint32_t chained = crc32(data.data() + start + half, n - half, crc32(data.data() + start, half));
      ASSERT_EQ(chained, ~reg);
    }
  }
}

}  // namespace
