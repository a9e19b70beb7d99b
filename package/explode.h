// Decoder ("explode") for the implode format of the PKWARE Data Compression
// Library, plus the format's fixed code tables, which the encoder in
// tools/implode shares.
//
// Format
// ------
// Byte 0 is the literal mode: 0 = literals are stored as plain 8-bit values,
// 1 = literals are coded with the fixed Shannon-Fano table below ("ASCII"
// mode).  Byte 1 is the dictionary size code 4, 5 or 6: the number of low
// distance bits stored verbatim, log2(dictionary size) - 6, so 1024, 2048 or
// 4096 bytes.  A bit stream follows, packed least significant bit first.
//
// Each token starts with one flag bit: 0 = a literal follows (8 plain bits or
// a literal code), 1 = a copy follows:
//   - a length code (16 symbols) and that symbol's extra bits, added to the
//     symbol's base length.  Lengths run from 2 to 518; length 519 (the last
//     symbol with all eight extra bits set) ends the stream, and the rest of
//     the last byte is padding.
//   - a distance code (64 symbols) giving the high distance bits, then the
//     low bits in plain: 2 low bits for a copy of length 2 (so its distance
//     is at most 256), otherwise as many as the dictionary size code says.
//     Distance = (high << low bits | low) + 1; it counts back from the next
//     output byte and may be smaller than the length (the copy then repeats
//     the last bytes, distance 1 length 518 repeats one byte 518 times).
// Plain fields (literals, extra bits, low distance bits) are stored least
// significant bit first, as they come.  The three code tables are canonical
// prefix codes given here by their code lengths: codes are assigned in order
// of length, then symbol, and stored inverted with their most significant
// bit first.  All three sets are complete, so every bit pattern decodes.
//
// Worked example: 00 04 82 24 25 8f 80 7f decodes to "AIAIAIAIAIAIA".
// Binary mode, dictionary 1024.  The bits after the header, in stream order:
//   0 10000010          literal 0x41 'A' (plain bits, least significant first)
//   0 10010010          literal 0x49 'I'
//   1 00100 1           copy: length code 00100 = symbol 8 (base 10, 1 extra
//                       bit) + 1 = length 11
//     11 1000           distance code 11 = symbol 0, 4 low bits 1: distance 2
//   1 0000000 11111111  length code 0000000 = symbol 15 (base 264) + 255 =
//                       519: end of stream; one padding bit follows.
//
// Streaming contract (as the library's explode entry has it): the decoder
// pulls input through the read callback until it returns 0, pushes output in
// blocks through the write callback, and stops at the end code.  Input after
// the end code is left unread or ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// read: copies up to *size bytes into buf, returns how many; 0 = input exhausted
using ExplodeReadFn = unsigned (*)(char* buf, unsigned* size, void* param);
// write: takes *size expanded bytes
using ExplodeWriteFn = void (*)(char* buf, unsigned* size, void* param);

enum class ExplodeStatus {
    Ok = 0,
    Truncated,          // input ended before the end code
    BadLiteralMode,     // header byte 0 is neither 0 nor 1
    BadDictionarySize,  // header byte 1 is not 4, 5 or 6
    DistanceTooFar,     // a copy reaches back before the first output byte
    BadCode,            // an undecodable code (cannot occur: the tables are complete)
    OutOfMemory,        // the decoder state could not be allocated
    BadArgument,        // a callback is missing
};

// Size of the work buffer the library's explode entry requires of its
// callers.  Our decoder ignores such a buffer and allocates its own state,
// kExplodeStateSize bytes (about 104 KiB: a 64 KiB output block plus history,
// a 16 KiB input buffer and the ASCII literal table), once per call.
constexpr std::size_t kExplodeWorkBufferSize = 12596;
extern const std::size_t kExplodeStateSize;

// Expands one implode stream.  On failure everything decoded before the bad
// or missing token has been written; nothing else.
ExplodeStatus explodeStream(ExplodeReadFn read, ExplodeWriteFn write, void* param);

// Expands the stream in[0..n) into out (replacing its contents).
ExplodeStatus explodeBuffer(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out);

// A short English text for a status, for logs and tool messages.
const char* explodeStatusText(ExplodeStatus status);

// The format's fixed tables, shared by the decoder and the encoder.
namespace dcl {

constexpr unsigned kMinDictionaryCode = 4;
constexpr unsigned kMaxDictionaryCode = 6;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 518;
constexpr unsigned kEndLength = 519;       // the length that ends the stream
constexpr unsigned kMaxLen2Distance = 256; // length-2 copies carry 2 low bits
constexpr unsigned kMaxDistance = 4096;

constexpr unsigned kLengthSymbols = 16;
constexpr std::uint8_t kLengthCodeBits[kLengthSymbols] = {2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7};
constexpr std::uint16_t kLengthBase[kLengthSymbols] = {3, 2, 4, 5, 6, 7, 8, 9, 10, 12, 16, 24, 40, 72, 136, 264};
constexpr std::uint8_t kLengthExtraBits[kLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};

constexpr unsigned kDistanceSymbols = 64;
constexpr std::uint8_t kDistanceCodeBits[kDistanceSymbols] = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};

// Literal code lengths of ASCII mode: short codes for space, lower-case
// letters and common punctuation, 12 and 13 bits for control and high bytes.
constexpr unsigned kLiteralSymbols = 256;
constexpr unsigned kMaxLiteralCodeBits = 13;
constexpr std::uint8_t kLiteralCodeBits[kLiteralSymbols] = {
    11, 12, 12, 12, 12, 12, 12, 12, 12, 8,  7,  12, 12, 7,  12, 12, // 0x00
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 13, 12, 12, 12, 12, 12, // 0x10
    4,  10, 8,  12, 10, 12, 10, 8,  7,  7,  8,  9,  7,  6,  7,  8,  // 0x20
    7,  6,  7,  7,  7,  7,  8,  7,  7,  8,  8,  12, 11, 7,  9,  11, // 0x30
    12, 6,  7,  6,  6,  5,  7,  8,  8,  6,  11, 9,  6,  7,  6,  6,  // 0x40
    7,  11, 6,  6,  6,  7,  9,  8,  9,  9,  11, 8,  11, 9,  12, 8,  // 0x50
    12, 5,  6,  6,  6,  5,  6,  6,  6,  5,  11, 7,  5,  6,  5,  5,  // 0x60
    6,  10, 5,  5,  5,  5,  8,  7,  8,  8,  10, 11, 11, 12, 12, 12, // 0x70
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0x80
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0x90
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0xA0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 0xB0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 0xC0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 0xD0
    13, 12, 13, 13, 13, 12, 13, 13, 13, 12, 13, 13, 13, 13, 12, 13, // 0xE0
    13, 13, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, // 0xF0
};

// The bits of each code as they stand in the stream (first bit in bit 0),
// derived from the code lengths: canonical codes, inverted, bit-reversed.
// Fills codes[0..n); returns false if the lengths over-subscribe the code
// space (a guard for the tables above, checked by static_asserts below).
constexpr bool streamCodes(const std::uint8_t* bits, unsigned n, std::uint16_t* codes)
{
    unsigned next = 0; // next canonical code of the current length
    unsigned prevLen = 0;
    for (unsigned len = 1; len <= 16; ++len) {
        next <<= (len - prevLen);
        prevLen = len;
        for (unsigned s = 0; s < n; ++s) {
            if (bits[s] != len)
                continue;
            if (next >= (1u << len))
                return false;
            unsigned inverted = ~next & ((1u << len) - 1);
            unsigned reversed = 0;
            for (unsigned i = 0; i < len; ++i)
                reversed |= ((inverted >> i) & 1u) << (len - 1 - i);
            codes[s] = static_cast<std::uint16_t>(reversed);
            ++next;
        }
    }
    return true;
}

// True if the lengths fill the code space exactly (every pattern decodes).
constexpr bool isCompleteCode(const std::uint8_t* bits, unsigned n)
{
    std::uint32_t space = 0; // in units of 2^-16
    for (unsigned s = 0; s < n; ++s)
        space += std::uint32_t{1} << (16 - bits[s]);
    return space == (std::uint32_t{1} << 16);
}

static_assert(isCompleteCode(kLengthCodeBits, kLengthSymbols));
static_assert(isCompleteCode(kDistanceCodeBits, kDistanceSymbols));
static_assert(isCompleteCode(kLiteralCodeBits, kLiteralSymbols));

} // namespace dcl
