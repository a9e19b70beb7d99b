// Encoder ("implode") for the PKWARE DCL implode format; the format notes are
// in package/explode.h, whose decoder reads everything this writes.
//
// A hash-chain match finder supplies matches of 2 to 518 bytes (a length-2
// copy only within 256 bytes); every literal and copy is priced in exact bits
// under the format's fixed codes.  The Best parser finds the cheapest parse
// of the matches found (a shortest path per 64 KiB block), the Fast one is greedy with lazy
// matching.  Auto options try the candidate modes and keep the smallest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

enum class ImplodeLiteralMode {
    Binary, // literals as plain bytes: the choice for executables and images
    Ascii,  // literals coded with the fixed text-oriented table
    Auto,   // whichever gives the smaller output
};

enum class ImplodeDictionary {
    Auto = 0, // whichever gives the smallest output
    Size1024 = 1024,
    Size2048 = 2048,
    Size4096 = 4096,
};

enum class ImplodeEffort {
    Best, // cheapest parse: 2-5% smaller output than Fast at a third of its speed
    Fast, // lazy matching, 40-65 MB/s
};

// Called now and then with the input bytes processed so far and the total.
using ImplodeProgressFn = std::function<void(std::size_t done, std::size_t total)>;

struct ImplodeOptions {
    ImplodeLiteralMode literalMode = ImplodeLiteralMode::Auto;
    ImplodeDictionary dictionary = ImplodeDictionary::Auto;
    ImplodeEffort effort = ImplodeEffort::Best;
    ImplodeProgressFn progress;
};

// Compresses data[0..n) into one complete implode stream (header, codes, end
// code).  Out of memory surfaces as std::bad_alloc.
std::vector<std::uint8_t> implodeBuffer(const std::uint8_t* data, std::size_t n, ImplodeOptions opts = {});

// Streaming form with the library's callback contract (the decoder's types):
// pulls all input through read until it returns 0, compresses it and pushes
// the stream through write in blocks.  The input is held in memory.  Returns
// false only when memory runs out.
using ImplodeReadFn = unsigned (*)(char* buf, unsigned* size, void* param);
using ImplodeWriteFn = void (*)(char* buf, unsigned* size, void* param);
bool implodeStream(ImplodeReadFn read, ImplodeWriteFn write, void* param, ImplodeOptions opts = {});
