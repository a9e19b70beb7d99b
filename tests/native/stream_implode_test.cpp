// The implode library's streaming encoder: what it writes must expand to the
// input through the installer's decoder, across window slides, with reads of
// any size, at every dictionary size and literal mode; matches must reach as
// far as the dictionary allows and no farther.
#include "tools/impborl/stream_implode.h"
#include "tests/support/piece_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

using test_support::PieceStream;

Bytes implode(const Bytes& in, bool ascii, unsigned dictCode)
{
    PieceStream io = PieceStream::cycling(in, {1, 65536, 3, 517, 4096, 70000});
    EXPECT_EQ(streamImplode(PieceStream::read, PieceStream::write, &io, ascii, dictCode), StreamImplodeResult::Ok);
    EXPECT_EQ(io.emptyWrites, 0u);
    EXPECT_LE(io.largestWrite, kStreamImplodeBlock);
    return std::move(io.out);
}

Bytes expand(const Bytes& packed)
{
    Bytes out;
    EXPECT_EQ(explodeBuffer(packed.data(), packed.size(), out), ExplodeStatus::Ok);
    return out;
}

// Text, noise, long runs and far repeats, a few hundred KiB: several slides.
Bytes mixed()
{
    std::mt19937 rng(11);
    Bytes b;
    const std::string text = "The saver shows a movie while the computer is idle; press a key to stop it. ";
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < 200; ++i)
            b.insert(b.end(), text.begin(), text.end());
        for (int i = 0; i < 5000; ++i)
            b.push_back(static_cast<std::uint8_t>(rng()));
        b.insert(b.end(), 3000 + round, static_cast<std::uint8_t>(round));
        b.insert(b.end(), b.end() - 4000, b.end() - 1000); // a copy 4000 back
    }
    return b;
}

TEST(StreamImplode, RoundTripsInEveryModeAcrossSlides)
{
    const Bytes data = mixed();
    ASSERT_GT(data.size(), 3u * 65536);
    for (bool ascii : {false, true}) {
        for (unsigned dict = 4; dict <= 6; ++dict) {
            SCOPED_TRACE(std::string(ascii ? "ascii" : "binary") + " dictionary code " + std::to_string(dict));
            Bytes packed = implode(data, ascii, dict);
            ASSERT_GE(packed.size(), 2u);
            EXPECT_EQ(packed[0], ascii ? 1 : 0);
            EXPECT_EQ(packed[1], dict);
            EXPECT_LT(packed.size(), data.size() / 2);
            EXPECT_EQ(expand(packed), data);
        }
    }
}

TEST(StreamImplode, ShortInputsEndCleanly)
{
    for (std::size_t n : {0, 1, 2, 3, 4, 519}) {
        SCOPED_TRACE(n);
        Bytes data(n, 'a');
        Bytes packed = implode(data, false, 4);
        EXPECT_EQ(expand(packed), data);
    }
}

// A random block repeated at exactly the dictionary size compresses to
// little more than the block; repeated one byte beyond it, the copies must
// not be used (they would reach past the dictionary) and it still expands.
TEST(StreamImplode, MatchesReachTheWholeDictionaryAndNoFarther)
{
    std::mt19937 rng(5);
    for (unsigned dict = 4; dict <= 6; ++dict) {
        SCOPED_TRACE(dict);
        unsigned size = 64u << dict;
        Bytes block(size);
        for (auto& x : block)
            x = static_cast<std::uint8_t>(rng());
        Bytes atSize;
        for (int i = 0; i < 20; ++i)
            atSize.insert(atSize.end(), block.begin(), block.end());
        Bytes packed = implode(atSize, false, dict);
        EXPECT_LT(packed.size(), size * 3 / 2); // 20 times the block without the copies
        EXPECT_EQ(expand(packed), atSize);

        Bytes beyond;
        for (int i = 0; i < 20; ++i) {
            beyond.insert(beyond.end(), block.begin(), block.end());
            beyond.push_back(0x5a);
        }
        packed = implode(beyond, false, dict);
        EXPECT_GT(packed.size(), beyond.size()); // nothing within reach repeats
        EXPECT_EQ(expand(packed), beyond);
    }
}

} // namespace
