// Replays every committed fuzz corpus (tests/fuzz/corpus/<harness>/) through
// the harness functions, so the seeds and the inputs of past findings run
// in every native build, under the sanitizers in the native-asan preset.
#include "tests/fuzz/harnesses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

// How gtest names a harness in its output.
void PrintTo(const FuzzHarness& harness, std::ostream* os) { *os << harness.name; }

#ifndef FUZZ_CORPUS_DIR
#define FUZZ_CORPUS_DIR "tests/fuzz/corpus"
#endif

namespace {

namespace fs = std::filesystem;

[[noreturn]] void throwFailure(const char* message) { throw FuzzFailure{message}; }

std::vector<std::uint8_t> readFile(const fs::path& path)
{
  std::vector<std::uint8_t> bytes;
  std::FILE* f = std::fopen(path.string().c_str(), "rb");
  if (!f) return bytes;
  std::uint8_t block[65536];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + got);
  std::fclose(f);
  return bytes;
}

class FuzzCorpus : public testing::TestWithParam<FuzzHarness> {
protected:
  void SetUp() override { setFuzzFailureHandler(throwFailure); }
  void TearDown() override { setFuzzFailureHandler(nullptr); }
};

TEST_P(FuzzCorpus, EveryInputKeepsTheHarnessProperties)
{
  const FuzzHarness& harness = GetParam();
  fs::path dir = fs::path(FUZZ_CORPUS_DIR) / harness.name;
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty()) << "no corpus in " << dir;

  for (const fs::path& file : files) {
    std::vector<std::uint8_t> input = readFile(file);
    try {
      EXPECT_EQ(harness.run(input.data(), input.size()), 0) << file;
    } catch (const FuzzFailure& failure) {
      ADD_FAILURE() << file.filename() << ": " << failure.message;
    }
  }
}

// Inputs of every size up to a few bytes more than the fixed records, with
// no structure at all: the shapes a corpus may lack.
TEST_P(FuzzCorpus, TakesEmptyAndShortInputs)
{
  const FuzzHarness& harness = GetParam();
  std::vector<std::uint8_t> input;
  for (std::size_t size : {0, 1, 2, 3, 4, 9, 16, 44, 1239, 1240, 1504, 3151, 3152, 3168}) {
    for (std::uint8_t fill : {0x00, 0x01, 0xff}) {
      input.assign(size, fill);
      try {
        harness.run(input.data(), input.size());
      } catch (const FuzzFailure& failure) {
        ADD_FAILURE() << "size " << size << " fill " << int(fill) << ": " << failure.message;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzCorpus, testing::ValuesIn(fuzzHarnesses().begin(), fuzzHarnesses().end()),
                         [](const testing::TestParamInfo<FuzzHarness>& info) { return std::string(info.param.name); });

}  // namespace
