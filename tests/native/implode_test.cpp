// Encoder tests: round trips through our decoder for every literal mode,
// dictionary size and effort on the inputs that stress a match finder, the
// exact bytes of known streams, Auto choices, progress reports and the
// streaming form.  (Our streams were also checked with zlib's blast while
// this was written; the decoder itself is held to third-party streams in
// explode_test.cpp.)
#include "tools/implode/implode.h"

#include "package/explode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#ifndef TEST_FIXTURES_DIR
#define TEST_FIXTURES_DIR "tests/fixtures"
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b)
        c = static_cast<std::uint8_t>(rng());
    return b;
}

// Words with spaces and line breaks: short matches, near and far.
Bytes wordText(std::size_t n, unsigned seed)
{
    const char* words[] = {"screen", "saver", "the", "of", "install", "folder", "window", "a", "movie", "and",
                           "picture", "light", "is", "to", "Flash", "player", "version", "file", "data", "it"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        s += words[rng() % 20];
        s += rng() % 12 == 0 ? ".\r\n" : " ";
    }
    s.resize(n);
    return Bytes(s.begin(), s.end());
}

// Matches of every length up to the maximum and beyond, at every distance.
Bytes repeats(std::size_t n)
{
    Bytes b = randomBytes(5000, 1);
    std::mt19937 rng(2);
    while (b.size() < n) {
        std::size_t len = 2 + rng() % 700, dist = 1 + rng() % 4200;
        for (std::size_t k = 0; k < len; ++k)
            b.push_back(b[b.size() - std::min(dist, b.size())]);
        b.push_back(static_cast<std::uint8_t>(rng()));
    }
    b.resize(n);
    return b;
}

Bytes roundTrip(const Bytes& in, ImplodeOptions opts)
{
    Bytes packed = implodeBuffer(in.data(), in.size(), opts);
    Bytes out;
    EXPECT_EQ(explodeBuffer(packed.data(), packed.size(), out), ExplodeStatus::Ok);
    EXPECT_TRUE(out == in) << "input of " << in.size() << " bytes";
    return packed;
}

TEST(Implode, RoundTripsEveryModeAndDictionary)
{
    struct Input {
        const char* name;
        Bytes data;
    } inputs[] = {
        {"empty", {}},
        {"one byte", {0x5a}},
        {"two bytes", {0x00, 0x00}},
        {"zeros", Bytes(100000, 0)},
        {"two-byte period", [] { Bytes b; for (int i = 0; i < 30000; ++i) b.push_back(i % 2 ? 0xff : 0x00); return b; }()},
        {"random", randomBytes(70000, 3)},
        {"text", wordText(90000, 4)},
        {"repeats", repeats(150000)},
        {"all byte values", [] { Bytes b; for (int r = 0; r < 40; ++r) for (int i = 0; i < 256; ++i) b.push_back(static_cast<std::uint8_t>(i * r)); return b; }()},
    };
    for (ImplodeEffort effort : {ImplodeEffort::Best, ImplodeEffort::Fast})
        for (ImplodeLiteralMode mode : {ImplodeLiteralMode::Binary, ImplodeLiteralMode::Ascii})
            for (ImplodeDictionary dict : {ImplodeDictionary::Size1024, ImplodeDictionary::Size2048, ImplodeDictionary::Size4096})
                for (const Input& in : inputs) {
                    SCOPED_TRACE(std::string(in.name) + (mode == ImplodeLiteralMode::Ascii ? " ascii " : " binary ") +
                                 std::to_string(static_cast<int>(dict)) + (effort == ImplodeEffort::Fast ? " fast" : " best"));
                    Bytes packed = roundTrip(in.data, {mode, dict, effort, {}});
                    ASSERT_GE(packed.size(), 4u);
                    EXPECT_EQ(packed[0], mode == ImplodeLiteralMode::Ascii ? 1 : 0);
                    EXPECT_EQ(64u << packed[1], static_cast<unsigned>(dict));
                }
}

TEST(Implode, LargeInputsRoundTripAndReportProgress)
{
    Bytes big = repeats(3u << 20);
    Bytes tail = wordText(1u << 20, 5);
    big.insert(big.end(), tail.begin(), tail.end());
    for (ImplodeEffort effort : {ImplodeEffort::Best, ImplodeEffort::Fast}) {
        std::vector<std::size_t> seen;
        ImplodeOptions opts{ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096, effort,
                            [&](std::size_t done, std::size_t total) {
                                EXPECT_EQ(total, big.size());
                                seen.push_back(done);
                            }};
        roundTrip(big, opts);
        ASSERT_GE(seen.size(), 3u);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_EQ(seen.back(), big.size());
    }
}

TEST(Implode, KnownStreams)
{
    const char* ai = "AIAIAIAIAIAIA";
    Bytes aiBytes(ai, ai + 13);
    const Bytes aiStream{0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f}; // the format notes' example
    using M = ImplodeLiteralMode;
    using D = ImplodeDictionary;
    using E = ImplodeEffort;
    struct Case {
        const char* name;
        Bytes in;
        M mode;
        D dict;
        E effort;
        Bytes out;
    } cases[] = {
        {"worked example", aiBytes, M::Binary, D::Size1024, E::Best, aiStream},
        {"worked example, fast", aiBytes, M::Binary, D::Size1024, E::Fast, aiStream},
        {"empty, binary 4096", {}, M::Binary, D::Size4096, E::Best, {0x00, 0x06, 0x01, 0xff}},
        {"empty, ascii 2048", {}, M::Ascii, D::Size2048, E::Fast, {0x01, 0x05, 0x01, 0xff}},
    };
    for (const Case& c : cases) {
        ImplodeOptions opts;
        opts.literalMode = c.mode;
        opts.dictionary = c.dict;
        opts.effort = c.effort;
        EXPECT_EQ(implodeBuffer(c.in.data(), c.in.size(), opts), c.out) << c.name;
    }
}

TEST(Implode, AutoPicksTheSmallest)
{
    struct Case {
        const char* name;
        Bytes data;
        ImplodeLiteralMode expectMode;
    } cases[] = {
        {"text", wordText(20000, 6), ImplodeLiteralMode::Ascii},
        {"random", randomBytes(20000, 7), ImplodeLiteralMode::Binary},
        {"large text (sampled)", wordText(600000, 8), ImplodeLiteralMode::Ascii},
        {"large random (sampled)", randomBytes(600000, 9), ImplodeLiteralMode::Binary},
    };
    for (const Case& c : cases) {
        Bytes autoOut = roundTrip(c.data, {});
        EXPECT_EQ(autoOut[0], c.expectMode == ImplodeLiteralMode::Ascii ? 1 : 0) << c.name;
        if (c.data.size() > 256 * 1024)
            continue; // sampled: close to the best, not always the best
        for (ImplodeLiteralMode mode : {ImplodeLiteralMode::Binary, ImplodeLiteralMode::Ascii})
            for (ImplodeDictionary dict : {ImplodeDictionary::Size1024, ImplodeDictionary::Size2048, ImplodeDictionary::Size4096})
                EXPECT_LE(autoOut.size(), implodeBuffer(c.data.data(), c.data.size(), {mode, dict, ImplodeEffort::Best, {}}).size())
                    << c.name;
    }
    // Auto in one dimension only keeps the other as asked.
    Bytes text = wordText(20000, 10);
    Bytes packed = implodeBuffer(text.data(), text.size(), {ImplodeLiteralMode::Binary, ImplodeDictionary::Auto, ImplodeEffort::Best, {}});
    EXPECT_EQ(packed[0], 0);
    packed = implodeBuffer(text.data(), text.size(), {ImplodeLiteralMode::Auto, ImplodeDictionary::Size1024, ImplodeEffort::Best, {}});
    EXPECT_EQ(packed[1], 4);
}

Bytes fixture(const std::string& name)
{
    Bytes b;
    std::string path = std::string(TEST_FIXTURES_DIR) + "/implode/" + name;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "missing fixture " << path;
        return b;
    }
    for (int c; (c = std::fgetc(f)) != EOF;)
        b.push_back(static_cast<std::uint8_t>(c));
    std::fclose(f);
    return b;
}

TEST(Implode, NoLargerThanAThirdPartyEncoder)
{
    // The fixture streams came from node-pkware, an encoder of the format
    // that works but searches little: ours must never come out larger.
    struct Case {
        const char* input;
        const char* stream;
        ImplodeLiteralMode mode;
        ImplodeDictionary dict;
    } cases[] = {
        {"text.txt", "text-ascii-1024.pk", ImplodeLiteralMode::Ascii, ImplodeDictionary::Size1024},
        {"text.txt", "text-ascii-4096.pk", ImplodeLiteralMode::Ascii, ImplodeDictionary::Size4096},
        {"text.txt", "text-binary-2048.pk", ImplodeLiteralMode::Binary, ImplodeDictionary::Size2048},
        {"binary.bin", "binary-binary-1024.pk", ImplodeLiteralMode::Binary, ImplodeDictionary::Size1024},
        {"binary.bin", "binary-ascii-4096.pk", ImplodeLiteralMode::Ascii, ImplodeDictionary::Size4096},
    };
    for (const Case& c : cases)
        for (ImplodeEffort effort : {ImplodeEffort::Best, ImplodeEffort::Fast}) {
            Bytes packed = roundTrip(fixture(c.input), {c.mode, c.dict, effort, {}});
            EXPECT_LE(packed.size(), fixture(c.stream).size()) << c.stream;
        }
}

TEST(Implode, BestParseBeatsLazy)
{
    for (const Bytes& data : {wordText(200000, 11), repeats(200000)}) {
        Bytes best = roundTrip(data, {ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096, ImplodeEffort::Best, {}});
        Bytes fast = roundTrip(data, {ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096, ImplodeEffort::Fast, {}});
        EXPECT_LT(best.size(), fast.size());
    }
    // 518-byte copies of 22 bits each: under 6 bytes per 1000.
    Bytes zeros(100000, 0);
    EXPECT_LT(roundTrip(zeros, {ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096, ImplodeEffort::Best, {}}).size(), 600u);
}

struct StreamIo {
    const Bytes* in;
    std::size_t pos = 0;
    Bytes out;
};

TEST(Implode, StreamFormMatchesBuffer)
{
    Bytes text = wordText(150000, 12);
    StreamIo io{&text, 0, {}};
    auto read = [](char* buf, unsigned* size, void* param) -> unsigned {
        auto* s = static_cast<StreamIo*>(param);
        std::size_t n = std::min<std::size_t>({*size, 777, s->in->size() - s->pos});
        std::copy_n(s->in->data() + s->pos, n, buf);
        s->pos += n;
        return static_cast<unsigned>(n);
    };
    auto write = [](char* buf, unsigned* size, void* param) {
        auto* s = static_cast<StreamIo*>(param);
        s->out.insert(s->out.end(), buf, buf + *size);
    };
    ImplodeOptions opts{ImplodeLiteralMode::Ascii, ImplodeDictionary::Size2048, ImplodeEffort::Best, {}};
    ASSERT_TRUE(implodeStream(read, write, &io, opts));
    EXPECT_EQ(io.out, implodeBuffer(text.data(), text.size(), opts));
}

} // namespace
