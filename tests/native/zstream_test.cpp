#include "package/zstream.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Bytes that compress but not to nothing: a counter mixed with a pattern.
std::string sampleData(std::size_t n)
{
  std::string s(n, '\0');
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>((i % 7 == 0) ? (x >> 24) : ('a' + i % 23));
  }
  return s;
}

std::string zlibCompress(const std::string& data, int level = 6)
{
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  int r = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                    reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                    level);
  EXPECT_EQ(r, Z_OK);
  out.resize(size);
  return out;
}

std::string readAll(TZDecompressionStream& z, std::size_t block)
{
  std::string out;
  std::string buf(block, '\0');
  for (;;) {
    std::size_t got = z.Read(buf.data(), block);
    if (got == 0) break;
    out.append(buf, 0, got);
  }
  return out;
}

TEST(ZStream, RoundTripsInAnyBlockSize)
{
  // Sizes around the 64 KB input buffer and an empty payload.
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{70000}, std::size_t{300000}}) {
    for (std::size_t block : {std::size_t{1}, std::size_t{2048}, std::size_t{1 << 20}}) {
      if (size > 70000 && block == 1) continue;  // slow and adds nothing
      SCOPED_TRACE(testing::Message() << "size " << size << " block " << block);
      std::string data = sampleData(size);
      MemorySourceStream src(zlibCompress(data, 0));  // stored: compressed is larger than 64 KB
      TZDecompressionStream z(src);
      EXPECT_EQ(readAll(z, block), data);
      EXPECT_EQ(z.position(), static_cast<std::int64_t>(size));
    }
  }
}

// What zlib itself inflates from a stream that may be cut short.
std::string inflateWhatThereIs(const std::string& packed)
{
  std::string out(1 << 20, '\0');
  z_stream zs{};
  EXPECT_EQ(inflateInit(&zs), Z_OK);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  zs.avail_in = static_cast<uInt>(packed.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  inflate(&zs, Z_SYNC_FLUSH);
  out.resize(out.size() - zs.avail_out);
  inflateEnd(&zs);
  return out;
}

// A stream cut short right after a long copy: the source runs dry while
// inflate still owes most of the copy, which later reads must hand out.
TEST(ZStream, OutputOwedAfterTheLastInputComesOut)
{
  const std::string packed = zlibCompress(std::string(254487, '\0'), 9);
  for (std::size_t cut = packed.size() - 16; cut <= packed.size(); ++cut) {
    SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << packed.size());
    const std::string expected = inflateWhatThereIs(packed.substr(0, cut));
    for (std::size_t block : {std::size_t{1000}, std::size_t{8192}}) {
      MemorySourceStream src(packed.substr(0, cut));
      TZDecompressionStream z(src);
      EXPECT_EQ(readAll(z, block), expected) << "block " << block;
    }
    MemorySourceStream src(packed.substr(0, cut));
    TZDecompressionStream skipping(src);
    EXPECT_EQ(skipping.Seek(1 << 20, SeekOrigin::Current), static_cast<std::int64_t>(expected.size()));
  }
}

TEST(ZStream, StopsRightAfterTheCompressedData)
{
  // A prefix before and trailing bytes behind the zlib stream: the stream
  // starts where the source stood and leaves it right behind its data.
  std::string data = sampleData(100000);
  std::string packed = zlibCompress(data, 0);  // > 64 KB, so the end lies in a second refill
  std::string prefix = "HEADER..";
  std::string trailer = "trailing garbage that is not zlib";
  MemorySourceStream src(prefix + packed + trailer);
  src.seek(static_cast<std::int64_t>(prefix.size()), SeekOrigin::Beginning);

  int refills = 0;
  TZDecompressionStream z(src);
  z.OnProgress = [&](TCustomZStream&) { ++refills; };
  std::string out(data.size() + 100, '\0');
  EXPECT_EQ(z.Read(out.data(), out.size()), data.size());
  out.resize(data.size());
  EXPECT_EQ(out, data);
  EXPECT_EQ(refills, 2);
  const std::int64_t after = static_cast<std::int64_t>(prefix.size() + packed.size());
  EXPECT_EQ(src.position(), after);

  char c;
  EXPECT_EQ(z.Read(&c, 1), 0u);
  EXPECT_EQ(src.position(), after);
  char tail[8];
  ASSERT_EQ(src.read(tail, 8), 8u);
  EXPECT_EQ(std::string(tail, 8), trailer.substr(0, 8));

  // Offset 0 from the beginning restarts at the stream's own start.
  EXPECT_EQ(z.Seek(0, SeekOrigin::Beginning), 0);
  EXPECT_EQ(readAll(z, 4096), data);
}

TEST(ZStream, FollowsASourceMovedByOthers)
{
  std::string data = sampleData(5000);
  MemorySourceStream src(zlibCompress(data));
  TZDecompressionStream z(src);
  std::string first(1000, '\0');
  ASSERT_EQ(z.Read(first.data(), first.size()), first.size());
  src.seek(0, SeekOrigin::End);  // someone else reads elsewhere
  std::string rest = readAll(z, 777);
  EXPECT_EQ(first + rest, data);
}

TEST(ZStream, BadDataRaisesZlibTexts)
{
  std::string packed = zlibCompress(sampleData(20000));
  std::string corrupt = packed;
  corrupt[packed.size() / 2] ^= 0x55;
  corrupt[packed.size() / 2 + 1] ^= 0xAA;

  // A stream that wants a preset dictionary (FDICT set): inflate would stall.
  z_stream d{};
  ASSERT_EQ(deflateInit(&d, 6), Z_OK);
  ASSERT_EQ(deflateSetDictionary(&d, reinterpret_cast<const Bytef*>("dict"), 4), Z_OK);
  std::string withDict(256, '\0');
  std::string in = "payload payload";
  d.next_in = reinterpret_cast<Bytef*>(in.data());
  d.avail_in = static_cast<uInt>(in.size());
  d.next_out = reinterpret_cast<Bytef*>(withDict.data());
  d.avail_out = static_cast<uInt>(withDict.size());
  ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
  withDict.resize(d.total_out);
  deflateEnd(&d);

  struct Row {
    const char* name;
    std::string bytes;
    const char* text;
  } rows[] = {
      {"not zlib", "this is no zlib stream at all", "data error"},
      {"flipped bits", corrupt, "data error"},
      {"bad checksum", packed.substr(0, packed.size() - 1) + char(packed.back() ^ 1), "data error"},
      {"preset dictionary", withDict, "need dictionary"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemorySourceStream src(row.bytes);
    TZDecompressionStream z(src);
    try {
      readAll(z, 4096);
      ADD_FAILURE() << "no error raised";
    } catch (const EZDecompressionError& e) {
      EXPECT_STREQ(e.what(), row.text);
    }
  }
}

// A source that ends inside the zlib stream is the end of the data: what
// was inflated so far comes out, then 0, and no error.
TEST(ZStream, SourceEndingEarlyGivesWhatThereIs)
{
  std::string data = sampleData(200000);
  std::string packed = zlibCompress(data, 0);  // stored: every prefix inflates to a prefix
  struct Row {
    const char* name;
    std::size_t keep;
  } rows[] = {
      {"without the checksum", packed.size() - 4},
      {"checksum cut", packed.size() - 2},
      {"cut in the second refill", 100000},
      {"cut in the first refill", 1000},
      {"header only", 2},
      {"empty", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemorySourceStream src(packed.substr(0, row.keep));
    TZDecompressionStream z(src);
    std::string out;
    ASSERT_NO_THROW(out = readAll(z, 4096));
    EXPECT_EQ(out, data.substr(0, out.size()));
    EXPECT_EQ(z.position(), static_cast<std::int64_t>(out.size()));
    char c;
    EXPECT_EQ(z.Read(&c, 1), 0u);
    EXPECT_EQ(src.position(), static_cast<std::int64_t>(row.keep));
  }
  // Without only the checksum, every byte of the data is there.
  MemorySourceStream src(zlibCompress(data).substr(0, zlibCompress(data).size() - 4));
  TZDecompressionStream z(src);
  EXPECT_EQ(readAll(z, 1 << 20), data);
}

TEST(ZStream, WriteAndBackwardSeeksAreInvalid)
{
  std::string data = sampleData(30000);
  MemorySourceStream src(zlibCompress(data));
  TZDecompressionStream z(src);
  auto expectInvalid = [](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "no error raised";
    } catch (const EZLibError& e) {
      EXPECT_STREQ(e.what(), "Invalid ZStream operation!");
    }
  };
  expectInvalid([&] { z.Write("x", 1); });
  EXPECT_EQ(z.Seek(1000, SeekOrigin::Current), 1000);
  expectInvalid([&] { z.Seek(-1, SeekOrigin::Current); });
  expectInvalid([&] { z.Seek(999, SeekOrigin::Beginning); });
  expectInvalid([&] { z.Seek(-5, SeekOrigin::End); });
  expectInvalid([&] { z.Seek(5, SeekOrigin::End); });
  expectInvalid([&] { z.Write("x", 0); });
  EXPECT_EQ(z.position(), 1000);
}

TEST(ZStream, ForwardSeeksSkipInflatedBytes)
{
  std::string data = sampleData(50000);
  MemorySourceStream src(zlibCompress(data));
  TZDecompressionStream z(src);
  EXPECT_EQ(z.Seek(20000, SeekOrigin::Beginning), 20000);
  EXPECT_EQ(z.Seek(20000, SeekOrigin::Beginning), 20000);  // no move
  EXPECT_EQ(z.Seek(10001, SeekOrigin::Current), 30001);
  char c = 0;
  ASSERT_EQ(z.Read(&c, 1), 1u);
  EXPECT_EQ(c, data[30001]);
  EXPECT_EQ(z.Seek(0, SeekOrigin::End), 50000);
  EXPECT_EQ(z.Seek(1000, SeekOrigin::Current), 50000);  // nothing beyond the end
  EXPECT_EQ(z.Seek(0, SeekOrigin::Beginning), 0);
  EXPECT_EQ(z.Seek(100000, SeekOrigin::Beginning), 50000);
}

// Positions are 64-bit everywhere: past 4 GiB nothing may wrap round into
// the data, as it would through a 32-bit size_t.
TEST(ZStream, PositionsBeyond4GiBDoNotWrap)
{
  constexpr std::int64_t k4GiB = std::int64_t{1} << 32;
  std::string data = sampleData(50000);
  MemorySourceStream src(zlibCompress(data));
  src.seek(k4GiB + 1, SeekOrigin::Beginning);
  char c = 0;
  EXPECT_EQ(src.read(&c, 1), 0u);
  src.seek(0, SeekOrigin::Beginning);
  TZDecompressionStream z(src);
  EXPECT_EQ(z.Seek(k4GiB, SeekOrigin::Beginning), 50000);
  EXPECT_EQ(z.Seek(0, SeekOrigin::Beginning), 0);
  EXPECT_EQ(z.Seek(k4GiB + 10, SeekOrigin::Current), 50000);
}

TEST(ZStream, ReadsAFileSource)
{
  std::string dir = testing::TempDir() + "zstream_test_file";
  std::filesystem::create_directories(dir);
  std::string path = dir + "/data.z";
  std::string data = sampleData(200000);
  std::string packed = zlibCompress(data, 0) + "TAIL";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(packed.data(), 1, packed.size(), f);
  std::fclose(f);

  FileSourceStream src;
  ASSERT_EQ(src.open(path), errOk);
  {
    TZDecompressionStream z(src);
    EXPECT_EQ(readAll(z, 2048), data);
  }
  EXPECT_EQ(src.position(), static_cast<std::int64_t>(packed.size() - 4));
  FileSourceStream missing;
  EXPECT_EQ(missing.open(dir + "/none.z"), 2);
  EXPECT_THROW(missing.read(&f, 1), EStreamError);
  std::filesystem::remove_all(dir);
}

}  // namespace
