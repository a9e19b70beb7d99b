// The implode library "impborl.dll" through its exported interface, loaded
// as a program outside the build would load it: LoadLibrary by full path,
// then GetProcAddress for "_implode", "_explode" and "_crc32".
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "package/explode.h"
#include "tests/support/piece_stream.h"
#include "tests/win/support/folder_fixture.h"
#include "tools/impborl/impborl.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string libraryPath() { return winfs::hostPath(TEST_BINARY_DIR "/impborl.dll"); }

// The library loaded by full path, its three entries looked up by name.
class ImplodeLibrary {
 public:
  explicit ImplodeLibrary(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
    if (!module_) return;
    implode_ = reinterpret_cast<ImpborlImplodeFn>(reinterpret_cast<void*>(GetProcAddress(module_, "_implode")));
    explode_ = reinterpret_cast<ImpborlExplodeFn>(reinterpret_cast<void*>(GetProcAddress(module_, "_explode")));
    crc32_ = reinterpret_cast<ImpborlCrc32Fn>(reinterpret_cast<void*>(GetProcAddress(module_, "_crc32")));
  }
  ~ImplodeLibrary() {
    if (module_) FreeLibrary(module_);
  }
  ImplodeLibrary(const ImplodeLibrary&) = delete;
  ImplodeLibrary& operator=(const ImplodeLibrary&) = delete;

  bool complete() const { return implode_ && explode_ && crc32_; }
  ImpborlImplodeFn implode() const { return implode_; }
  ImpborlExplodeFn explode() const { return explode_; }
  ImpborlCrc32Fn crc32() const { return crc32_; }

 private:
  HMODULE module_;
  ImpborlImplodeFn implode_ = nullptr;
  ImpborlExplodeFn explode_ = nullptr;
  ImpborlCrc32Fn crc32_ = nullptr;
};

// The input in small uneven pieces (never more than asked), the output
// collected; the library calls these with its own calling convention.
test_support::PieceStream pipe(const Bytes& input) {
  return test_support::PieceStream::cycling(input, {1, 7, 300, 4096, 2, 65536, 13});
}

unsigned IMPBORL_CALL readPiece(char* buf, unsigned* size, void* param) {
  return test_support::PieceStream::read(buf, size, param);
}

void IMPBORL_CALL writePiece(char* buf, unsigned* size, void* param) {
  test_support::PieceStream::write(buf, size, param);
}

// A write of nothing, or of more than a block could hold.
bool oversizedWrite(const test_support::PieceStream& s) { return s.emptyWrites > 0 || s.largestWrite > (1u << 20); }

Bytes sampleText(std::size_t n) {
  std::string s;
  while (s.size() < n) s += "Screen savers show moving pictures while the computer is idle. ";
  return Bytes(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes sampleNoise(std::size_t n) {
  std::mt19937 rng(7);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

class Impborl : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lib_.complete()) << "cannot load " << libraryPath() << " with its three entries"; }
  ImplodeLibrary lib_{libraryPath()};
};

TEST_F(Impborl, RoundTripsWithUnevenPieces) {
  struct Input { const char* what; Bytes data; };
  const Input inputs[] = {
      {"empty", {}},
      {"one byte", {0x41}},
      {"text", sampleText(50000)},
      {"noise", sampleNoise(20000)},
      {"zeros", Bytes(100000, 0)},
  };
  std::vector<char> implodeWork(kImpborlImplodeWorkSize), explodeWork(kImpborlExplodeWorkSize);
  for (const Input& in : inputs) {
    for (unsigned type : {0u, 1u}) {
      for (unsigned dsize : {1024u, 2048u, 4096u}) {
        SCOPED_TRACE(std::string(in.what) + " type " + std::to_string(type) + " dsize " + std::to_string(dsize));
        auto packed = pipe(in.data);
        ASSERT_EQ(lib_.implode()(readPiece, writePiece, implodeWork.data(), &packed, &type, &dsize), kImpborlOk);
        ASSERT_GE(packed.out.size(), 2u);
        EXPECT_EQ(packed.out[0], type);
        EXPECT_EQ(64u << packed.out[1], dsize);
        EXPECT_FALSE(oversizedWrite(packed));

        // The installer's built-in decoder reads what the library writes.
        Bytes direct;
        ASSERT_EQ(explodeBuffer(packed.out.data(), packed.out.size(), direct), ExplodeStatus::Ok);
        EXPECT_EQ(direct, in.data);

        auto plain = pipe(packed.out);
        ASSERT_EQ(lib_.explode()(readPiece, writePiece, explodeWork.data(), &plain), kImpborlOk);
        EXPECT_EQ(plain.out, in.data);
        EXPECT_FALSE(oversizedWrite(plain));
        if (in.data.size() >= 100000) {
          EXPECT_GT(plain.writes, 1u);  // output comes in blocks
        }
      }
    }
  }
}

TEST_F(Impborl, ExplodeReportsTheDclErrorCodes) {
  const Bytes good = {0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f};  // "AIAIAIAIAIAIA"
  struct Case { const char* what; Bytes stream; unsigned code; };
  const Case cases[] = {
      {"valid", good, kImpborlOk},
      {"literal mode 2", {0x02, 0x04, 0x82, 0x24}, kImpborlInvalidMode},
      {"dictionary code 7", {0x00, 0x07, 0x82, 0x24}, kImpborlInvalidDictSize},
      {"dictionary code 3", {0x00, 0x03, 0x82, 0x24}, kImpborlInvalidDictSize},
      {"cut before the end code", Bytes(good.begin(), good.end() - 2), kImpborlBadData},
      {"empty", {}, kImpborlBadData},
      // A copy at distance 2 as the very first token reaches before the start.
      {"distance too far", {0x00, 0x04, 0x03, 0x00}, kImpborlBadData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto p = pipe(c.stream);
    EXPECT_EQ(lib_.explode()(readPiece, writePiece, nullptr, &p), c.code);  // any work buffer, even none
    if (c.code == kImpborlOk) {
      EXPECT_EQ(std::string(p.out.begin(), p.out.end()), "AIAIAIAIAIAIA");
    }
  }
  auto p = pipe(good);
  EXPECT_EQ(lib_.explode()(nullptr, writePiece, nullptr, &p), kImpborlAbort);
}

TEST_F(Impborl, ImplodeRejectsBadParameters) {
  const Bytes data = sampleText(100);
  struct Case { unsigned type; unsigned dsize; unsigned code; };
  const Case cases[] = {
      {2, 1024, kImpborlInvalidMode}, {0, 512, kImpborlInvalidDictSize}, {1, 8192, kImpborlInvalidDictSize},
      {0, 0, kImpborlInvalidDictSize}, {1, 4096, kImpborlOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.dsize));
    auto p = pipe(data);
    unsigned type = c.type, dsize = c.dsize;
    EXPECT_EQ(lib_.implode()(readPiece, writePiece, nullptr, &p, &type, &dsize), c.code);
    EXPECT_EQ(p.out.empty(), c.code != kImpborlOk);
  }
  unsigned type = 0, dsize = 1024;
  auto p = pipe(data);
  EXPECT_EQ(lib_.implode()(readPiece, writePiece, nullptr, &p, nullptr, &dsize), kImpborlInvalidMode);
  EXPECT_EQ(lib_.implode()(readPiece, writePiece, nullptr, &p, &type, nullptr), kImpborlInvalidDictSize);
  EXPECT_EQ(lib_.implode()(readPiece, nullptr, nullptr, &p, &type, &dsize), kImpborlAbort);
}

// No initial value, no final complement: the caller starts from all ones
// and complements at the end, and calls chain over pieces.
TEST_F(Impborl, Crc32ChainsWithoutInversion) {
  char check[] = "123456789";
  unsigned all = 9;
  unsigned long start = 0xFFFFFFFFul;
  EXPECT_EQ(~lib_.crc32()(check, &all, &start) & 0xFFFFFFFFul, 0xCBF43926ul);
  EXPECT_EQ(start, 0xFFFFFFFFul);  // left unchanged

  unsigned long reg = 0xFFFFFFFFul;
  for (unsigned cut : {2u, 3u, 4u}) {
    unsigned n = cut;
    reg = lib_.crc32()(check + (cut == 2 ? 0 : cut == 3 ? 2 : 5), &n, &reg);
  }
  EXPECT_EQ(~reg & 0xFFFFFFFFul, 0xCBF43926ul);

  unsigned none = 0;
  unsigned long value = 0x12345678ul;
  EXPECT_EQ(lib_.crc32()(check, &none, &value), 0x12345678ul);
}

}  // namespace
