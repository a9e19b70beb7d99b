// Table-driven decoder for the PKWARE DCL implode format (see explode.h for
// the format notes).
//
// Design: a 64-bit bit buffer refilled without branches from a 16 KiB input
// buffer; one table lookup per code (literal codes up to 13 bits in one
// step); a 64 KiB output block in front of which the last 4096 bytes are kept
// when the window slides, so copies never wrap; copies move 8 or 16 bytes at
// a time into slack space behind the block.  The hot loop decodes a budget
// of tokens that cannot run out of input bytes or output space, then checks
// again; near the end of the input a careful variant of the same loop runs
// on zero padding and checks every token against the real number of bits
// left before it writes anything.  State: about 104 KiB, on the heap.
#include "package/explode.h"

#include <cstdlib>
#include <cstring>

namespace {

using dcl::kMaxDistance;
using dcl::kMaxMatch;

constexpr std::size_t kBlock = 64 * 1024;                 // output flushed per slide
constexpr std::size_t kHistory = kMaxDistance;            // kept for back-references
constexpr std::size_t kCopySlack = 16;                    // chunked copies overshoot
constexpr std::size_t kWindowSize = kHistory + kBlock + kMaxMatch + kCopySlack;
constexpr std::size_t kInSize = 16 * 1024;
constexpr std::size_t kInPad = 16;                        // zeros behind the last byte
constexpr unsigned kLiteralIndexBits = dcl::kMaxLiteralCodeBits;
constexpr std::ptrdiff_t kRefillMargin = 20;              // fast runs need this much input

// Length code lookup, indexed by the 7 bits after the flag (the longest
// length code): length = base + ((bits >> shift) & mask), `total` bits with
// the flag.
struct LengthEntry {
    std::uint16_t base;
    std::uint16_t mask;   // of the extra bits
    std::uint8_t shift;   // flag and code bits, where the extra bits start
    std::uint8_t total;   // flag, code and extra bits
};

// Distance lookup, indexed by the 8 bits after the length (the longest
// distance code): distance = base + ((bits >> codeBits) & mask), `total`
// bits.  Built per stream: the number of low bits depends on the header.
struct DistanceEntry {
    std::uint16_t base;   // (symbol << low bits) + 1
    std::uint16_t mask;   // of the low bits
    std::uint8_t codeBits;
    std::uint8_t total;   // code and low bits
};

template <unsigned IndexBits, typename Entry, typename Make>
constexpr void fillTable(Entry* table, const std::uint8_t* bits, unsigned n, Make make)
{
    std::uint16_t codes[256] = {};
    dcl::streamCodes(bits, n, codes);
    for (unsigned s = 0; s < n; ++s)
        for (unsigned i = codes[s]; i < (1u << IndexBits); i += 1u << bits[s])
            table[i] = make(s);
}

struct LengthTable {
    LengthEntry e[128] = {};
    constexpr LengthTable()
    {
        fillTable<7>(e, dcl::kLengthCodeBits, dcl::kLengthSymbols, [](unsigned s) {
            unsigned code = dcl::kLengthCodeBits[s];
            unsigned extra = dcl::kLengthExtraBits[s];
            return LengthEntry{dcl::kLengthBase[s], static_cast<std::uint16_t>((1u << extra) - 1),
                               static_cast<std::uint8_t>(1 + code), static_cast<std::uint8_t>(1 + code + extra)};
        });
    }
};

constexpr LengthTable kLengthTable;

// Smallest multiple of each distance below 8 that is at least 8: once the
// first 8 bytes of a short-distance copy are out, the pattern repeats with
// that period and the rest can be copied 8 bytes at a time.
constexpr std::uint8_t kPeriodStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};

inline std::uint64_t load64(const std::uint8_t* p)
{
    return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
           std::uint64_t{p[3]} << 24 | std::uint64_t{p[4]} << 32 | std::uint64_t{p[5]} << 40 |
           std::uint64_t{p[6]} << 48 | std::uint64_t{p[7]} << 56;
}

inline void copy8(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 8); }
inline void copy16(std::uint8_t* to, const std::uint8_t* from) { std::memcpy(to, from, 16); }

// Copies len bytes from dist bytes back; may write up to kCopySlack - 1
// bytes past the end, and reads only bytes already written.
inline void copyMatch(std::uint8_t* out, unsigned dist, unsigned len)
{
    std::uint8_t* end = out + len;
    const std::uint8_t* from = out - dist;
    if (dist >= 16) {
        do {
            copy16(out, from);
            out += 16;
            from += 16;
        } while (out < end);
        return;
    }
    if (dist < 8) {
        for (int i = 0; i < 8; ++i)
            out[i] = from[i];
        out += 8;
        from = out - kPeriodStep[dist];
        if (out >= end)
            return;
    }
    do {
        copy8(out, from);
        out += 8;
        from += 8;
    } while (out < end);
}

// What the driver does after a run of the decoding loop.
enum class Step { Continue, Done, Error };

} // namespace

struct ExplodeState {
    ExplodeReadFn read;
    ExplodeWriteFn write;
    void* param;

    // Input: in[0..inEnd) of inBuf holds read bytes; `in` is the first byte
    // not yet counted in the bit buffer.  Once the input has ended, kInPad
    // zero bytes follow inEnd so the refill may run past it.
    const std::uint8_t* in;
    const std::uint8_t* inEnd;
    bool inputEnded;
    std::uint64_t bits;     // next bits of the stream, first bit in bit 0
    unsigned bitCount;      // valid bits in `bits`; the bits above are lookahead
                            // copies of the bytes at `in`, never stale data

    // Output: window[0..out) is decoded; window[flushed..out) is not yet
    // written out.  Every byte before `out` is valid history, so a distance
    // is good exactly when it is at most out - window.
    std::uint8_t* out;
    std::uint8_t* flushed;

    ExplodeStatus status;    // set with Step::Error

    DistanceEntry distance2[256]; // for copies of length 2: 2 low bits
    DistanceEntry distance[256];  // for longer copies: low bits from the header

    std::uint16_t literalTable[1u << kLiteralIndexBits]; // symbol | code bits << 8 (ASCII mode)
    std::uint8_t inBuf[kInSize + kInPad];
    std::uint8_t window[kWindowSize];
};

const std::size_t kExplodeStateSize = sizeof(ExplodeState);

namespace {

void buildDistanceTable(DistanceEntry* table, unsigned lowBits)
{
    fillTable<8>(table, dcl::kDistanceCodeBits, dcl::kDistanceSymbols, [lowBits](unsigned sym) {
        unsigned code = dcl::kDistanceCodeBits[sym];
        return DistanceEntry{static_cast<std::uint16_t>((sym << lowBits) + 1),
                             static_cast<std::uint16_t>((1u << lowBits) - 1), static_cast<std::uint8_t>(code),
                             static_cast<std::uint8_t>(code + lowBits)};
    });
}

void buildLiteralTable(ExplodeState& s)
{
    std::uint16_t codes[dcl::kLiteralSymbols] = {};
    dcl::streamCodes(dcl::kLiteralCodeBits, dcl::kLiteralSymbols, codes);
    for (unsigned sym = 0; sym < dcl::kLiteralSymbols; ++sym) {
        unsigned len = dcl::kLiteralCodeBits[sym];
        auto entry = static_cast<std::uint16_t>(sym | len << 8);
        for (unsigned i = codes[sym]; i < (1u << kLiteralIndexBits); i += 1u << len)
            s.literalTable[i] = entry;
    }
}

// Keeps the unused input and reads more until the buffer is full or the
// input ends.  Tolerates a read callback that returns any count.
void fillInput(ExplodeState& s)
{
    std::size_t keep = static_cast<std::size_t>(s.inEnd - s.in);
    std::memmove(s.inBuf, s.in, keep);
    s.in = s.inBuf;
    std::uint8_t* end = s.inBuf + keep;
    while (end < s.inBuf + kInSize) {
        unsigned want = static_cast<unsigned>(s.inBuf + kInSize - end);
        unsigned asked = want;
        unsigned got = s.read(reinterpret_cast<char*>(end), &asked, s.param);
        if (got == 0) {
            s.inputEnded = true;
            std::memset(end, 0, kInPad);
            break;
        }
        end += got < want ? got : want;
    }
    s.inEnd = end;
}

void flushOutput(ExplodeState& s)
{
    if (s.out == s.flushed)
        return;
    unsigned size = static_cast<unsigned>(s.out - s.flushed);
    s.write(reinterpret_cast<char*>(s.flushed), &size, s.param);
    s.flushed = s.out;
}

// Writes out the block and moves the last kHistory bytes to the front.
void slideWindow(ExplodeState& s)
{
    flushOutput(s);
    std::memmove(s.window, s.out - kHistory, kHistory);
    s.out = s.window + kHistory;
    s.flushed = s.out;
}

// How many tokens may be decoded before the margins are checked again: each
// refill loads 8 bytes at `in` and a token uses at most 30 bits, so `in`
// moves at most 4 bytes per token beyond the 8 loaded; each token writes at
// most kMaxMatch bytes (plus copy slack) and must start within outLimit.  A
// careful run checks before every token: the padding covers inEnd + 16.
template <bool Careful>
std::size_t tokenBudget(const std::uint8_t* in, const std::uint8_t* inEnd, const std::uint8_t* out,
                        const std::uint8_t* outLimit)
{
    if (out > outLimit)
        return 0;
    if (Careful)
        return in - inEnd <= 8 ? 1 : 0;
    std::ptrdiff_t inRoom = inEnd - in - 16;
    if (inRoom < 4) // the driver refills below kRefillMargin
        return 0;
    std::size_t byInput = static_cast<std::size_t>(inRoom) / 4;
    std::size_t byOutput = static_cast<std::size_t>(outLimit - out) / kMaxMatch + 1;
    return byInput < byOutput ? byInput : byOutput;
}

// Decodes tokens until the input or output margin runs out (Continue), the
// end code (Done) or bad data (Error).  Careful: the input has ended, the
// refill reads zero padding, and each token must fit in the real bits left.
template <bool Ascii, bool Careful>
Step decodeRun(ExplodeState& s)
{
    const std::uint8_t* in = s.in;
    const std::uint8_t* const inEnd = s.inEnd;
    std::uint64_t bits = s.bits;
    unsigned count = s.bitCount;
    std::uint8_t* out = s.out;
    std::uint8_t* const window = s.window;
    std::uint8_t* const outLimit = window + kWindowSize - kMaxMatch - kCopySlack;
    Step step = Step::Continue;
    // Real bits left: `count` less what the refill took from the padding.
    auto realBits = [&] { return int(count) - 8 * int(in - inEnd); };

    while (std::size_t budget = tokenBudget<Careful>(in, inEnd, out, outLimit)) {
        do {
            // Refill to at least 56 bits: enough for the longest token.
            bits |= load64(in) << count;
            in += (63 - count) >> 3;
            count |= 56;

            unsigned used;
            if (!(bits & 1)) {
                unsigned literal;
                if (Ascii) {
                    unsigned e = s.literalTable[(bits >> 1) & ((1u << kLiteralIndexBits) - 1)];
                    literal = e & 0xff;
                    used = 1 + (e >> 8);
                } else {
                    literal = (bits >> 1) & 0xff;
                    used = 9;
                }
                if (Careful && int(used) > realBits()) {
                    s.status = ExplodeStatus::Truncated;
                    step = Step::Error;
                    goto stop;
                }
                *out++ = static_cast<std::uint8_t>(literal);
            } else {
                const LengthEntry& le = kLengthTable.e[(bits >> 1) & 0x7f];
                unsigned len = le.base + ((bits >> le.shift) & le.mask);
                used = le.total;
                if (len == dcl::kEndLength) {
                    bool whole = !Careful || int(used) <= realBits();
                    s.status = whole ? ExplodeStatus::Ok : ExplodeStatus::Truncated;
                    step = whole ? Step::Done : Step::Error;
                    goto stop;
                }
                std::uint64_t rest = bits >> used;
                const DistanceEntry& de = (len == 2 ? s.distance2 : s.distance)[rest & 0xff];
                unsigned dist = de.base + ((rest >> de.codeBits) & de.mask);
                used += de.total;
                if (Careful && int(used) > realBits()) {
                    s.status = ExplodeStatus::Truncated;
                    step = Step::Error;
                    goto stop;
                }
                if (dist > static_cast<std::size_t>(out - window)) {
                    s.status = ExplodeStatus::DistanceTooFar;
                    step = Step::Error;
                    goto stop;
                }
                copyMatch(out, dist, len);
                out += len;
            }
            bits >>= used;
            count -= used;
        } while (--budget);
    }
    // A careful run that leaves the padding behind has run out of real bits.
    if (Careful && out <= outLimit) {
        s.status = ExplodeStatus::Truncated;
        step = Step::Error;
    }
stop:
    s.in = in;
    s.bits = bits;
    s.bitCount = count;
    s.out = out;
    return step;
}

Step decodeSome(ExplodeState& s, bool ascii)
{
    if (s.inputEnded && s.inEnd - s.in < kRefillMargin)
        return ascii ? decodeRun<true, true>(s) : decodeRun<false, true>(s);
    return ascii ? decodeRun<true, false>(s) : decodeRun<false, false>(s);
}

ExplodeStatus readHeader(ExplodeState& s, bool& ascii)
{
    fillInput(s);
    if (s.inEnd - s.in < 2)
        return ExplodeStatus::Truncated;
    unsigned mode = s.in[0];
    unsigned dict = s.in[1];
    if (mode > 1)
        return ExplodeStatus::BadLiteralMode;
    if (dict < dcl::kMinDictionaryCode || dict > dcl::kMaxDictionaryCode)
        return ExplodeStatus::BadDictionarySize;
    s.in += 2;
    buildDistanceTable(s.distance2, 2);
    buildDistanceTable(s.distance, dict);
    ascii = mode == 1;
    if (ascii)
        buildLiteralTable(s);
    return ExplodeStatus::Ok;
}

ExplodeStatus run(ExplodeState& s)
{
    bool ascii = false;
    ExplodeStatus status = readHeader(s, ascii);
    if (status != ExplodeStatus::Ok)
        return status;
    for (;;) {
        if (!s.inputEnded && s.inEnd - s.in < kRefillMargin)
            fillInput(s);
        if (s.out > s.window + kWindowSize - kMaxMatch - kCopySlack)
            slideWindow(s);
        Step step = decodeSome(s, ascii);
        if (step == Step::Done)
            break;
        if (step == Step::Error) {
            status = s.status;
            break;
        }
    }
    flushOutput(s);
    return status;
}

} // namespace

ExplodeStatus explodeStream(ExplodeReadFn read, ExplodeWriteFn write, void* param)
{
    if (!read || !write)
        return ExplodeStatus::BadArgument;
    // Heap, not stack: the state is about 100 KiB.  malloc keeps the stub free
    // of operator new's exception path.
    void* mem = std::malloc(sizeof(ExplodeState));
    if (!mem)
        return ExplodeStatus::OutOfMemory;
    auto* s = static_cast<ExplodeState*>(mem);
    s->read = read;
    s->write = write;
    s->param = param;
    s->in = s->inEnd = s->inBuf;
    s->inputEnded = false;
    s->bits = 0;
    s->bitCount = 0;
    s->out = s->flushed = s->window;
    s->status = ExplodeStatus::Ok;
    ExplodeStatus status = run(*s);
    std::free(mem);
    return status;
}

const char* explodeStatusText(ExplodeStatus status)
{
    switch (status) {
    case ExplodeStatus::Ok: return "ok";
    case ExplodeStatus::Truncated: return "compressed data ends early";
    case ExplodeStatus::BadLiteralMode: return "bad literal mode in header";
    case ExplodeStatus::BadDictionarySize: return "bad dictionary size in header";
    case ExplodeStatus::DistanceTooFar: return "copy distance reaches before the start";
    case ExplodeStatus::BadCode: return "undecodable code";
    case ExplodeStatus::OutOfMemory: return "out of memory";
    case ExplodeStatus::BadArgument: return "missing callback";
    }
    return "unknown status";
}
