// Decoder tests: known answers, third-party streams (tests/fixtures/implode),
// the streaming contract with reads and writes of every size, crafted
// streams for the format's traps, and hostile input (truncation, bit flips,
// random bytes), which must end in a clean status, never a crash.
#include "package/explode.h"
#include "tests/support/piece_stream.h"

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

Bytes fixture(const std::string& name)
{
    Bytes b;
    std::string path = std::string(TEST_FIXTURES_DIR) + "/implode/" + name;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "missing fixture " << path;
        return b;
    }
    std::uint8_t buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        b.insert(b.end(), buf, buf + got);
    std::fclose(f);
    return b;
}

std::uint32_t crc32(const Bytes& b)
{
    std::uint32_t crc = 0xffffffffu;
    for (std::uint8_t byte : b) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

using test_support::PieceStream;

// Feeds input in pieces whose sizes cycle through `pieces` (0 = as much as
// asked).
ExplodeStatus explodeInPieces(const Bytes& in, std::vector<unsigned> pieces, Bytes& out)
{
    PieceStream io = PieceStream::cycling(in, std::move(pieces));
    ExplodeStatus st = explodeStream(PieceStream::read, PieceStream::write, &io);
    EXPECT_EQ(io.emptyWrites, 0u);
    EXPECT_FALSE(io.askedForNothing);
    out = std::move(io.out);
    return st;
}

// Writes streams token by token, for cases no sane encoder produces.
class StreamBuilder {
public:
    StreamBuilder(unsigned mode, unsigned dictCode) : low_(dictCode), ascii_(mode == 1)
    {
        bytes_ = {static_cast<std::uint8_t>(mode), static_cast<std::uint8_t>(dictCode)};
        dcl::streamCodes(dcl::kLiteralCodeBits, dcl::kLiteralSymbols, lit_);
        dcl::streamCodes(dcl::kLengthCodeBits, dcl::kLengthSymbols, len_);
        dcl::streamCodes(dcl::kDistanceCodeBits, dcl::kDistanceSymbols, dist_);
    }
    StreamBuilder& literal(std::uint8_t c)
    {
        bits(0, 1);
        if (ascii_)
            bits(lit_[c], dcl::kLiteralCodeBits[c]);
        else
            bits(c, 8);
        return *this;
    }
    StreamBuilder& copy(unsigned len, unsigned dist)
    {
        bits(1, 1);
        unsigned s = dcl::kLengthSymbols - 1; // bases rise from symbol 2 on; 0 is 3, 1 is 2
        while (s > 2 && dcl::kLengthBase[s] > len)
            --s;
        if (len < 4)
            s = len == 2 ? 1 : 0;
        bits(len_[s], dcl::kLengthCodeBits[s]);
        bits(len - dcl::kLengthBase[s], dcl::kLengthExtraBits[s]);
        if (len == dcl::kEndLength)
            return *this;
        unsigned low = len == 2 ? 2 : low_;
        unsigned d = dist - 1;
        bits(dist_[d >> low], dcl::kDistanceCodeBits[d >> low]);
        bits(d & ((1u << low) - 1), low);
        return *this;
    }
    StreamBuilder& end() { return copy(dcl::kEndLength, 0); }
    Bytes bytes() const
    {
        Bytes b = bytes_;
        if (count_)
            b.push_back(static_cast<std::uint8_t>(acc_));
        return b;
    }

private:
    void bits(unsigned v, unsigned n)
    {
        for (unsigned i = 0; i < n; ++i) {
            acc_ |= ((v >> i) & 1u) << count_;
            if (++count_ == 8) {
                bytes_.push_back(static_cast<std::uint8_t>(acc_));
                acc_ = count_ = 0;
            }
        }
    }
    unsigned low_;
    bool ascii_;
    std::uint16_t lit_[256] = {}, len_[16] = {}, dist_[64] = {};
    Bytes bytes_;
    unsigned acc_ = 0, count_ = 0;
};

Bytes text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

TEST(Explode, KnownAnswers)
{
    struct Case {
        const char* name;
        Bytes in;
        ExplodeStatus status;
        Bytes out;
    } cases[] = {
        {"worked example", {0x00, 0x04, 0x82, 0x24, 0x25, 0x8f, 0x80, 0x7f}, ExplodeStatus::Ok, text("AIAIAIAIAIAIA")},
        {"empty, binary 1024", {0x00, 0x04, 0x01, 0xff}, ExplodeStatus::Ok, {}},
        {"empty, ascii 4096", {0x01, 0x06, 0x01, 0xff}, ExplodeStatus::Ok, {}},
        {"trailing bytes ignored", {0x00, 0x05, 0x01, 0xff, 0x12, 0x34}, ExplodeStatus::Ok, {}},
        {"nothing", {}, ExplodeStatus::Truncated, {}},
        {"one header byte", {0x00}, ExplodeStatus::Truncated, {}},
        {"header only", {0x00, 0x06}, ExplodeStatus::Truncated, {}},
        {"end code cut short", {0x00, 0x06, 0x01}, ExplodeStatus::Truncated, {}},
        {"literal mode 2", {0x02, 0x06, 0x01, 0xff}, ExplodeStatus::BadLiteralMode, {}},
        {"literal mode 0xff", {0xff, 0x06, 0x01, 0xff}, ExplodeStatus::BadLiteralMode, {}},
        {"dictionary code 3", {0x00, 0x03, 0x01, 0xff}, ExplodeStatus::BadDictionarySize, {}},
        {"dictionary code 7", {0x01, 0x07, 0x01, 0xff}, ExplodeStatus::BadDictionarySize, {}},
        {"literal mode checked first", {0x05, 0x09}, ExplodeStatus::BadLiteralMode, {}},
    };
    for (const Case& c : cases) {
        Bytes out{0xaa}; // explodeBuffer replaces, never appends
        EXPECT_EQ(explodeBuffer(c.in.data(), c.in.size(), out), c.status) << c.name;
        EXPECT_EQ(out, c.out) << c.name;
    }
}

TEST(Explode, ThirdPartyStreams)
{
    Bytes textIn = fixture("text.txt");
    Bytes binaryIn = fixture("binary.bin");
    struct Case {
        const char* stream;
        const Bytes* expected; // or size and CRC-32 below
        std::size_t size;
        std::uint32_t crc;
    } cases[] = {
        {"text-ascii-1024.pk", &textIn, 0, 0},     {"text-ascii-2048.pk", &textIn, 0, 0},
        {"text-ascii-4096.pk", &textIn, 0, 0},     {"text-binary-1024.pk", &textIn, 0, 0},
        {"text-binary-2048.pk", &textIn, 0, 0},    {"text-binary-4096.pk", &textIn, 0, 0},
        {"binary-binary-1024.pk", &binaryIn, 0, 0}, {"binary-binary-2048.pk", &binaryIn, 0, 0},
        {"binary-binary-4096.pk", &binaryIn, 0, 0}, {"binary-ascii-4096.pk", &binaryIn, 0, 0},
        {"long-binary-4096.pk", nullptr, 98304, 0xb5ca0e90u},
        {"long-ascii-1024.pk", nullptr, 98304, 0xb5ca0e90u},
    };
    Bytes blastOut;
    EXPECT_EQ(explodeBuffer(fixture("blast-test.pk").data(), 8, blastOut), ExplodeStatus::Ok);
    EXPECT_EQ(blastOut, fixture("blast-test.txt"));
    for (const Case& c : cases) {
        Bytes in = fixture(c.stream);
        for (std::vector<unsigned> pieces : {std::vector<unsigned>{}, {1}, {3, 1, 7}}) {
            Bytes out;
            ASSERT_EQ(explodeInPieces(in, pieces, out), ExplodeStatus::Ok) << c.stream;
            if (c.expected) {
                EXPECT_EQ(out, *c.expected) << c.stream;
            } else {
                EXPECT_EQ(out.size(), c.size) << c.stream;
                EXPECT_EQ(crc32(out), c.crc) << c.stream;
            }
        }
    }
}

// A stream of about 200 KiB output: long repeats, literals, short copies.
Bytes mixedStream(Bytes& expected)
{
    StreamBuilder b(0, 6);
    std::mt19937 rng(5);
    for (int i = 0; i < 300; ++i) {
        std::uint8_t c = static_cast<std::uint8_t>(rng());
        b.literal(c);
        expected.push_back(c);
    }
    while (expected.size() < 200000) {
        unsigned len = 2 + rng() % 517;
        unsigned maxDist = std::min<std::size_t>(len == 2 ? 256 : 4096, expected.size());
        unsigned dist = 1 + rng() % maxDist;
        b.copy(len, dist);
        for (unsigned k = 0; k < len; ++k)
            expected.push_back(expected[expected.size() - dist]);
        std::uint8_t c = static_cast<std::uint8_t>(rng());
        b.literal(c);
        expected.push_back(c);
    }
    return b.end().bytes();
}

TEST(Explode, ReadsOfEverySizeGiveTheSameOutput)
{
    Bytes expected;
    Bytes stream = mixedStream(expected);
    std::vector<std::vector<unsigned>> patterns;
    for (unsigned n = 1; n <= 40; ++n)
        patterns.push_back({n});
    patterns.push_back({1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610, 987, 1597});
    patterns.push_back({4, 0});      // a tiny first read, then whatever is asked
    patterns.push_back({0x10001, 1}); // more than the decoder asks for
    patterns.push_back({16383, 2, 16385});
    for (const auto& p : patterns) {
        Bytes out;
        ASSERT_EQ(explodeInPieces(stream, p, out), ExplodeStatus::Ok) << "first piece " << p[0];
        ASSERT_EQ(out, expected) << "first piece " << p[0];
    }
}

TEST(Explode, WritesComeInLargeBlocks)
{
    Bytes expected;
    Bytes stream = mixedStream(expected);
    PieceStream io(stream);
    ASSERT_EQ(explodeStream(PieceStream::read, PieceStream::write, &io), ExplodeStatus::Ok);
    EXPECT_EQ(io.out, expected);
    EXPECT_LE(io.writes, expected.size() / 32768 + 1);
}

TEST(Explode, CopyTraps)
{
    Bytes random4096;
    std::mt19937 rng(9);
    StreamBuilder far(0, 6);
    for (int i = 0; i < 4096; ++i) {
        random4096.push_back(static_cast<std::uint8_t>(rng()));
        far.literal(random4096.back());
    }
    Bytes farExpected = random4096;
    for (int i = 0; i < 400; ++i) { // 518-byte copies across every window slide
        far.copy(518, 4096);
        for (int k = 0; k < 518; ++k)
            farExpected.push_back(farExpected[farExpected.size() - 4096]);
    }
    StreamBuilder shortDist(0, 5); // every distance below the 16-byte copy width
    Bytes shortExpected;
    for (unsigned d = 1; d <= 17; ++d) {
        for (int k = 0; k < 17; ++k) { // fresh bytes: the pattern of each copy differs
            shortExpected.push_back(static_cast<std::uint8_t>(rng()));
            shortDist.literal(shortExpected.back());
        }
        shortDist.copy(37, d);
        for (int k = 0; k < 37; ++k)
            shortExpected.push_back(shortExpected[shortExpected.size() - d]);
    }
    StreamBuilder run(1, 4);
    run.literal('x');
    for (int i = 0; i < 300; ++i)
        run.copy(518, 1);

    struct Case {
        const char* name;
        Bytes in;
        ExplodeStatus status;
        Bytes out;
    } cases[] = {
        {"copy before any output", StreamBuilder(0, 4).copy(3, 1).end().bytes(), ExplodeStatus::DistanceTooFar, {}},
        {"distance one too far", StreamBuilder(0, 4).literal('a').literal('b').copy(4, 3).end().bytes(),
         ExplodeStatus::DistanceTooFar, text("ab")},
        {"distance exactly back to the start", StreamBuilder(0, 4).literal('a').literal('b').copy(4, 2).end().bytes(),
         ExplodeStatus::Ok, text("ababab")},
        {"length-2 copy, dictionary 1024", StreamBuilder(0, 4).literal('q').literal('r').copy(2, 2).end().bytes(),
         ExplodeStatus::Ok, text("qrqr")},
        {"ascii literals", StreamBuilder(1, 5).literal(' ').literal(0xff).literal('e').copy(3, 3).end().bytes(),
         ExplodeStatus::Ok, Bytes{' ', 0xff, 'e', ' ', 0xff, 'e'}},
        {"no end code", StreamBuilder(0, 6).literal('a').literal('b').copy(2, 2).bytes(), ExplodeStatus::Truncated,
         text("abab")},
        {"518 copies of distance 4096", far.end().bytes(), ExplodeStatus::Ok, farExpected},
        {"overlapping copies, distances 1 to 17", shortDist.end().bytes(), ExplodeStatus::Ok, shortExpected},
        {"518 copies of distance 1", run.end().bytes(), ExplodeStatus::Ok, Bytes(1 + 300 * 518, 'x')},
    };
    for (const Case& c : cases) {
        for (std::vector<unsigned> pieces : {std::vector<unsigned>{}, {1}}) {
            Bytes out;
            EXPECT_EQ(explodeInPieces(c.in, pieces, out), c.status) << c.name;
            EXPECT_EQ(out, c.out) << c.name;
        }
    }
}

TEST(Explode, MissingCallbacks)
{
    EXPECT_EQ(explodeStream(nullptr, PieceStream::write, nullptr), ExplodeStatus::BadArgument);
    EXPECT_EQ(explodeStream(PieceStream::read, nullptr, nullptr), ExplodeStatus::BadArgument);
}

// Hostile input: any outcome but a crash, a hang or output beyond what the
// intact stream decodes to.  Run under -fsanitize=address,undefined too.
TEST(Explode, EveryTruncationFailsCleanly)
{
    Bytes expected;
    Bytes stream = mixedStream(expected);
    stream.resize(3000); // a few hundred tokens: every cut point
    StreamBuilder b(1, 6);
    for (char c : std::string("Every cut of an ASCII stream, too."))
        b.literal(static_cast<std::uint8_t>(c));
    Bytes ascii = b.copy(30, 34).end().bytes();
    for (const Bytes* s : {&stream, &ascii}) {
        Bytes full;
        explodeBuffer(s->data(), s->size(), full);
        for (std::size_t n = 0; n < s->size(); ++n) {
            Bytes out;
            ASSERT_EQ(explodeBuffer(s->data(), n, out), ExplodeStatus::Truncated) << n;
            ASSERT_LE(out.size(), full.size());
            ASSERT_TRUE(std::equal(out.begin(), out.end(), full.begin())) << n;
        }
    }
}

// Every single-bit flip up to the end code must show: a different status or
// different output.  Only the padding bits after the end code (the top bits
// of the last byte the decoder needs) may change nothing.  A distance that
// reaches back before the output must be reported as such, not repaired.
// (In these two streams no flip turns a token into another encoding of the
// same text; in others a changed distance bit may point at an equal run.)
TEST(Explode, EveryFlippedBitIsNoticed)
{
    for (const char* name : {"text-ascii-4096.pk", "text-binary-4096.pk"}) {
        SCOPED_TRACE(name);
        const Bytes base = fixture(name);
        Bytes expected;
        ASSERT_EQ(explodeBuffer(base.data(), base.size(), expected), ExplodeStatus::Ok);
        // The bytes the decoder needs: the shortest prefix that decodes (any
        // longer one does too).
        std::size_t used = 2, longer = base.size();
        while (used < longer) {
            std::size_t mid = (used + longer) / 2;
            Bytes out;
            if (explodeBuffer(base.data(), mid, out) == ExplodeStatus::Ok)
                longer = mid;
            else
                used = mid + 1;
        }
        int tooFar = 0;
        int lastByteUnchanged = 0; // bits of the last needed byte whose flip changed nothing
        for (std::size_t bit = 0; bit < used * 8; ++bit) {
            Bytes damaged(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(used));
            damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
            Bytes out;
            ExplodeStatus st = explodeBuffer(damaged.data(), damaged.size(), out);
            ASSERT_LE(out.size(), 518 * damaged.size()) << bit; // a copy takes 9 bits or more
            tooFar += st == ExplodeStatus::DistanceTooFar;
            bool unchanged = st == ExplodeStatus::Ok && out == expected;
            if (bit / 8 + 1 < used) {
                ASSERT_FALSE(unchanged) << "flip of bit " << bit << " went unnoticed";
            } else if (unchanged) {
                lastByteUnchanged |= 1 << (bit % 8);
            } else {
                // Padding lies above the end code: once a flip changes
                // nothing, every higher bit is padding too.
                ASSERT_EQ(lastByteUnchanged, 0) << "flip of bit " << bit << " mattered above padding";
            }
        }
        EXPECT_GT(tooFar, 0);
    }
}

TEST(Explode, RandomBytesFailCleanly)
{
    std::mt19937 rng(2024);
    for (int i = 0; i < 3000; ++i) {
        Bytes junk(2 + rng() % 600);
        for (auto& byte : junk)
            byte = static_cast<std::uint8_t>(rng());
        junk[0] = static_cast<std::uint8_t>(rng() % 2);
        junk[1] = static_cast<std::uint8_t>(4 + rng() % 3);
        Bytes out;
        explodeBuffer(junk.data(), junk.size(), out);
        ASSERT_LE(out.size(), 518 * junk.size()) << i;
    }
}

} // namespace
