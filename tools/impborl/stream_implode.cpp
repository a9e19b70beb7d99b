// Streaming greedy encoder (see stream_implode.h).  The state lives in one
// malloc'd block: no operator new, nothing that throws.
#include "tools/impborl/stream_implode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned kWindow = 1u << 16;           // history + lookahead
constexpr unsigned kHistory = dcl::kMaxDistance; // kept when the window slides
constexpr unsigned kHashBits = 14;
constexpr unsigned kChain = 32;                  // chain candidates tried per position
constexpr std::int32_t kNone = -1;

struct Encoder {
    ExplodeReadFn read;
    ExplodeWriteFn write;
    void* param;
    bool ascii;
    unsigned lowBits;  // low distance bits of copies (dictionary code)
    unsigned dictSize;

    unsigned filled;   // window[0..filled) holds input
    bool inputEnded;

    std::uint64_t bits; // pending output bits, first in bit 0
    unsigned bitCount;
    unsigned outLen;

    std::uint16_t literalCode[dcl::kLiteralSymbols];
    std::uint16_t lengthCode[dcl::kLengthSymbols];
    std::uint16_t distanceCode[dcl::kDistanceSymbols];

    std::int32_t head[1u << kHashBits]; // per 3-byte hash: last position, or kNone
    std::int32_t prev[kWindow];         // per position: previous one of its hash
    std::uint8_t window[kWindow];
    std::uint8_t out[kStreamImplodeBlock];
};

void flushOut(Encoder& e)
{
    if (e.outLen == 0)
        return;
    unsigned size = e.outLen;
    e.write(reinterpret_cast<char*>(e.out), &size, e.param);
    e.outLen = 0;
}

void putBits(Encoder& e, std::uint32_t value, unsigned count) // count <= 32
{
    e.bits |= std::uint64_t{value} << e.bitCount;
    e.bitCount += count;
    while (e.bitCount >= 8) {
        e.out[e.outLen++] = static_cast<std::uint8_t>(e.bits);
        e.bits >>= 8;
        e.bitCount -= 8;
        if (e.outLen == kStreamImplodeBlock)
            flushOut(e);
    }
}

unsigned lengthSymbol(unsigned len)
{
    unsigned s = 0;
    while (len < dcl::kLengthBase[s] || len >= dcl::kLengthBase[s] + (1u << dcl::kLengthExtraBits[s]))
        ++s;
    return s;
}

unsigned lengthCost(unsigned len)
{
    unsigned s = lengthSymbol(len);
    return 1 + dcl::kLengthCodeBits[s] + dcl::kLengthExtraBits[s];
}

void putLength(Encoder& e, unsigned len)
{
    unsigned s = lengthSymbol(len);
    unsigned code = dcl::kLengthCodeBits[s];
    putBits(e, 1u | unsigned{e.lengthCode[s]} << 1 | (len - dcl::kLengthBase[s]) << (1 + code),
            1 + code + dcl::kLengthExtraBits[s]);
}

unsigned matchCost(const Encoder& e, unsigned len, unsigned dist)
{
    return lengthCost(len) + dcl::kDistanceCodeBits[(dist - 1) >> e.lowBits] + e.lowBits;
}

void putMatch(Encoder& e, unsigned len, unsigned dist)
{
    putLength(e, len);
    unsigned d = dist - 1;
    unsigned high = d >> e.lowBits;
    unsigned codeBits = dcl::kDistanceCodeBits[high];
    putBits(e, e.distanceCode[high] | (d & ((1u << e.lowBits) - 1)) << codeBits, codeBits + e.lowBits);
}

unsigned literalCost(const Encoder& e, unsigned byte)
{
    return e.ascii ? 1u + dcl::kLiteralCodeBits[byte] : 9u;
}

void putLiteral(Encoder& e, unsigned byte)
{
    if (e.ascii)
        putBits(e, unsigned{e.literalCode[byte]} << 1, 1u + dcl::kLiteralCodeBits[byte]);
    else
        putBits(e, byte << 1, 9);
}

unsigned hashAt(const Encoder& e, unsigned pos)
{
    const std::uint8_t* p = e.window + pos;
    std::uint32_t v = p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

// Enters pos into its hash chain; returns the previous head.
std::int32_t insert(Encoder& e, unsigned pos)
{
    if (pos + 3 > e.filled)
        return kNone;
    std::int32_t& head = e.head[hashAt(e, pos)];
    std::int32_t before = head;
    e.prev[pos] = before;
    head = static_cast<std::int32_t>(pos);
    return before;
}

// The longest match at pos within the dictionary, up to limit bytes; inserts
// pos.  Returns its length (0 if under 3) and sets dist.
unsigned longestMatch(Encoder& e, unsigned pos, unsigned limit, unsigned& dist)
{
    std::int32_t c = insert(e, pos);
    if (limit < 3)
        return 0;
    const std::uint8_t* cur = e.window + pos;
    unsigned best = 0;
    for (unsigned n = kChain; c != kNone && n--; c = e.prev[c]) {
        unsigned d = pos - static_cast<unsigned>(c);
        if (d > e.dictSize)
            break;
        const std::uint8_t* p = e.window + c;
        if (p[best] != cur[best])
            continue;
        unsigned len = 0;
        while (len < limit && p[len] == cur[len])
            ++len;
        if (len > best) {
            best = len;
            dist = d;
            if (len == limit)
                break;
        }
    }
    return best >= 3 ? best : 0;
}

// Keeps the last kHistory bytes before pos and moves them to the front,
// with the hash chains; returns pos's new index.
unsigned slide(Encoder& e, unsigned pos)
{
    unsigned shift = pos - kHistory;
    std::memmove(e.window, e.window + shift, e.filled - shift);
    std::memmove(e.prev, e.prev + shift, (e.filled - shift) * sizeof e.prev[0]);
    e.filled -= shift;
    auto rebase = [shift](std::int32_t& v) {
        v = v >= static_cast<std::int32_t>(shift) ? v - static_cast<std::int32_t>(shift) : kNone;
    };
    for (std::int32_t& v : e.head)
        rebase(v);
    for (unsigned i = 0; i < e.filled; ++i)
        rebase(e.prev[i]);
    return pos - shift;
}

// Reads until the window is full or the input ends.  A read callback may
// return more than it was asked for; the excess is ignored.
void fill(Encoder& e)
{
    while (!e.inputEnded && e.filled < kWindow) {
        unsigned want = kWindow - e.filled;
        unsigned asked = want;
        unsigned got = e.read(reinterpret_cast<char*>(e.window + e.filled), &asked, e.param);
        if (got == 0)
            e.inputEnded = true;
        else
            e.filled += got < want ? got : want;
    }
}

void setUpCodes(Encoder& e)
{
    dcl::streamCodes(dcl::kLiteralCodeBits, dcl::kLiteralSymbols, e.literalCode);
    dcl::streamCodes(dcl::kLengthCodeBits, dcl::kLengthSymbols, e.lengthCode);
    dcl::streamCodes(dcl::kDistanceCodeBits, dcl::kDistanceSymbols, e.distanceCode);
    for (std::int32_t& v : e.head)
        v = kNone;
}

void encode(Encoder& e)
{
    e.out[0] = e.ascii ? 1 : 0;
    e.out[1] = static_cast<std::uint8_t>(e.lowBits);
    e.outLen = 2;
    unsigned pos = 0;
    for (;;) {
        if (!e.inputEnded && e.filled - pos < dcl::kMaxMatch) {
            if (pos > kHistory)
                pos = slide(e, pos);
            fill(e);
        }
        if (pos >= e.filled)
            break;
        unsigned left = e.filled - pos;
        unsigned limit = left < dcl::kMaxMatch ? left : dcl::kMaxMatch;
        unsigned dist = 0;
        unsigned len = longestMatch(e, pos, limit, dist);
        unsigned literals = 0;
        for (unsigned i = 0; i < len; ++i)
            literals += literalCost(e, e.window[pos + i]);
        if (len && matchCost(e, len, dist) < literals) {
            putMatch(e, len, dist);
            for (unsigned i = 1; i < len; ++i)
                insert(e, pos + i);
            pos += len;
        } else {
            putLiteral(e, e.window[pos++]);
        }
    }
    putLength(e, dcl::kEndLength);
    if (e.bitCount)
        putBits(e, 0, 8 - e.bitCount);
    flushOut(e);
}

} // namespace

StreamImplodeResult streamImplode(ExplodeReadFn read, ExplodeWriteFn write, void* param, bool ascii,
                                  unsigned dictCode)
{
    auto* e = static_cast<Encoder*>(std::malloc(sizeof(Encoder)));
    if (!e)
        return StreamImplodeResult::OutOfMemory;
    e->read = read;
    e->write = write;
    e->param = param;
    e->ascii = ascii;
    e->lowBits = dictCode;
    e->dictSize = 64u << dictCode;
    e->filled = 0;
    e->inputEnded = false;
    e->bits = 0;
    e->bitCount = 0;
    setUpCodes(*e);
    encode(*e);
    std::free(e);
    return StreamImplodeResult::Ok;
}
