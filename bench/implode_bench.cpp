// Benchmark of the implode encoder and decoder against zlib, on a corpus it
// makes itself: English-like text from a word list, x86 machine code from
// binaries found on this machine, and random bytes.
//
//   implode_bench [--size MiB] [--exe FILE]...        full table
//   implode_bench --decode-only text|exe|random        one explode of the kind
//   implode_bench --inflate-only text|exe|random       one zlib inflate of it
//   implode_bench --prepare-only text|exe|random       the preparation alone
//   implode_bench --dump text|exe|random FILE          write the corpus out
//
// The single-job modes exist for callgrind (scripts/bench-implode): they
// print "output_bytes N" and "region_macros 0|1" and run the decoder exactly
// once, inside runExplode or runInflate.
#include "package/explode.h"
#include "tools/implode/implode.h"

#include <zlib.h>

// With valgrind's client macros, a single-job run switches instrumentation on
// for the decode alone, so callgrind need not crawl through the preparation.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define BENCH_REGION_BEGIN() CALLGRIND_START_INSTRUMENTATION
#define BENCH_REGION_END() CALLGRIND_STOP_INSTRUMENTATION
constexpr bool kHasRegionMacros = true;
#else
#define BENCH_REGION_BEGIN() ((void)0)
#define BENCH_REGION_END() ((void)0)
constexpr bool kHasRegionMacros = false;
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Rng {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

// Roughly in order of frequency in English prose.
const char* const kWords[] = {
    "the", "of", "and", "to", "a", "in", "is", "that", "it", "was", "for", "on", "are", "as", "with",
    "his", "they", "at", "be", "this", "from", "have", "or", "by", "one", "had", "not", "but", "what",
    "all", "were", "when", "we", "there", "can", "an", "your", "which", "their", "said", "if", "do",
    "will", "each", "about", "how", "up", "out", "them", "then", "she", "many", "some", "so", "these",
    "would", "other", "into", "has", "more", "her", "two", "like", "him", "see", "time", "could", "no",
    "make", "than", "first", "been", "its", "who", "now", "people", "my", "made", "over", "did", "down",
    "only", "way", "find", "use", "may", "water", "long", "little", "very", "after", "words", "called",
    "just", "where", "most", "know", "get", "through", "back", "much", "before", "go", "good", "new",
    "write", "our", "used", "me", "man", "too", "any", "day", "same", "right", "look", "think", "also",
    "around", "another", "came", "come", "work", "three", "word", "must", "because", "does", "part",
    "even", "place", "well", "such", "here", "take", "why", "things", "help", "put", "years",
    "different", "away", "again", "off", "went", "old", "number", "great", "tell", "men", "say",
    "small", "every", "found", "still", "between", "name", "should", "home", "big", "give", "air",
    "line", "set", "own", "under", "read", "last", "never", "us", "left", "end", "along", "while",
    "might", "next", "sound", "below", "saw", "something", "thought", "both", "few", "those", "always",
    "looked", "show", "large", "often", "together", "asked", "house", "don't", "world", "going", "want",
    "school", "important", "until", "form", "food", "keep", "children", "feet", "land", "side",
    "without", "boy", "once", "animals", "life", "enough", "took", "sometimes", "four", "head",
    "above", "kind", "began", "almost", "live", "page", "got", "earth", "need", "far", "hand", "high",
    "year", "mother", "light", "parts", "country", "father", "let", "night", "following", "picture",
    "being", "study", "second", "eyes", "soon", "times", "story", "boys", "since", "white", "days",
    "ever", "paper", "hard", "near", "sentence", "better", "best", "across", "during", "today",
    "others", "however", "sure", "means", "knew", "it's", "try", "told", "young", "miles", "sun",
    "ways", "thing", "whole", "hear", "example", "heard", "several", "change", "answer", "room",
    "sea", "against", "top", "turned", "learn", "point", "city", "play", "toward", "five", "using",
    "himself", "usually", "screen", "saver", "window", "picture", "movie", "install", "folder",
};
constexpr unsigned kWordCount = sizeof(kWords) / sizeof(kWords[0]);

// Sentences of Zipf-distributed words, wrapped at 72 columns, in paragraphs.
Bytes makeText(std::size_t size)
{
    Rng rng{12345};
    std::vector<double> cumulative(kWordCount);
    double total = 0;
    for (unsigned i = 0; i < kWordCount; ++i)
        cumulative[i] = total += 1.0 / (i + 1.5);
    auto word = [&]() {
        double u = rng.unit() * total;
        unsigned i = static_cast<unsigned>(std::lower_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin());
        return std::string(kWords[std::min(i, kWordCount - 1)]);
    };
    std::string text;
    std::size_t column = 0;
    auto emit = [&](const std::string& w) {
        if (column + 1 + w.size() > 72) {
            text += '\n';
            column = 0;
        } else if (column) {
            text += ' ';
            ++column;
        }
        text += w;
        column += w.size();
    };
    while (text.size() < size) {
        unsigned sentences = 3 + rng.below(5);
        for (unsigned s = 0; s < sentences; ++s) {
            unsigned words = 5 + rng.below(15);
            for (unsigned w = 0; w < words; ++w) {
                std::string t = word();
                if (w == 0)
                    t[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
                if (w + 1 == words)
                    t += rng.below(10) == 0 ? "?" : ".";
                else if (rng.below(10) == 0)
                    t += ",";
                emit(t);
            }
        }
        text += "\n\n";
        column = 0;
    }
    text.resize(size);
    return Bytes(text.begin(), text.end());
}

bool readFile(const std::string& path, Bytes& out)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::uint8_t buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + got);
    std::fclose(f);
    return true;
}

std::vector<std::string> gExeFiles;

// Stripped machine code: the given files, else a few binaries that Debian
// ships stripped, concatenated and cut to size.
Bytes makeExe(std::size_t size)
{
    std::vector<std::string> files = gExeFiles;
    if (files.empty())
        files = {"/usr/lib/x86_64-linux-gnu/libstdc++.so.6", "/usr/bin/bash", "/usr/lib/x86_64-linux-gnu/libc.so.6",
                 "/usr/bin/python3.11", "/usr/bin/cmake"};
    Bytes exe;
    for (const std::string& f : files) {
        if (exe.size() >= size)
            break;
        if (readFile(f, exe))
            std::fprintf(stderr, "exe corpus: %s\n", f.c_str());
    }
    if (exe.empty()) {
        std::fprintf(stderr, "no executable found for the exe corpus\n");
        std::exit(2);
    }
    if (exe.size() > size)
        exe.resize(size);
    return exe;
}

Bytes makeRandom(std::size_t size)
{
    Rng rng{777};
    Bytes b(size);
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t v = rng.next();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            b[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    return b;
}

Bytes makeCorpus(const std::string& kind, std::size_t size)
{
    if (kind == "text")
        return makeText(size);
    if (kind == "exe")
        return makeExe(size);
    if (kind == "random")
        return makeRandom(size);
    std::fprintf(stderr, "unknown kind '%s' (text, exe, random)\n", kind.c_str());
    std::exit(2);
}

// --- decoding through the library contract -------------------------------

struct MemoryIo {
    const std::uint8_t* in;
    std::size_t inLeft;
    std::uint8_t* out;
    std::size_t outLeft;
    std::size_t written;
};

unsigned memRead(char* buf, unsigned* size, void* param)
{
    auto* io = static_cast<MemoryIo*>(param);
    std::size_t n = std::min<std::size_t>(*size, io->inLeft);
    std::memcpy(buf, io->in, n);
    io->in += n;
    io->inLeft -= n;
    return static_cast<unsigned>(n);
}

void memWrite(char* buf, unsigned* size, void* param)
{
    auto* io = static_cast<MemoryIo*>(param);
    std::size_t n = std::min<std::size_t>(*size, io->outLeft);
    std::memcpy(io->out, buf, n);
    io->out += n;
    io->outLeft -= n;
    io->written += n;
}

// Not inlined: callgrind collects by these functions' names.
[[gnu::noinline]] std::size_t runExplode(const Bytes& packed, Bytes& out)
{
    MemoryIo io{packed.data(), packed.size(), out.data(), out.size(), 0};
    if (explodeStream(memRead, memWrite, &io) != ExplodeStatus::Ok) {
        std::fprintf(stderr, "explode failed\n");
        std::exit(1);
    }
    return io.written;
}

Bytes zlibCompress(const Bytes& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 6) != Z_OK) {
        std::fprintf(stderr, "zlib compress failed\n");
        std::exit(1);
    }
    out.resize(size);
    return out;
}

[[gnu::noinline]] std::size_t runInflate(const Bytes& packed, Bytes& out)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        std::exit(1);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    std::size_t produced = out.size() - z.avail_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        std::fprintf(stderr, "inflate failed\n");
        std::exit(1);
    }
    return produced;
}

// --- timing ---------------------------------------------------------------

template <typename F>
double bestSeconds(F&& f, double budget = 0.4)
{
    using Clock = std::chrono::steady_clock;
    double best = 1e30, spent = 0;
    int runs = 0;
    while (runs < 3 || (spent < budget && runs < 50)) {
        auto t0 = Clock::now();
        f();
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        best = std::min(best, s);
        spent += s;
        ++runs;
    }
    return best;
}

double mbps(std::size_t bytes, double seconds) { return static_cast<double>(bytes) / seconds / 1e6; }

Bytes implodeWith(const Bytes& data, ImplodeLiteralMode mode, ImplodeDictionary dict,
                  ImplodeEffort effort = ImplodeEffort::Best)
{
    ImplodeOptions o;
    o.literalMode = mode;
    o.dictionary = dict;
    o.effort = effort;
    return implodeBuffer(data.data(), data.size(), o);
}

void benchKind(const std::string& kind, std::size_t size)
{
    Bytes data = makeCorpus(kind, size);
    std::printf("\n%s: %zu bytes\n", kind.c_str(), data.size());
    struct Run {
        ImplodeLiteralMode mode;
        ImplodeDictionary dict;
        ImplodeEffort effort;
    };
    std::vector<Run> runs;
    for (int ascii = 0; ascii < (kind == "text" ? 2 : 1); ++ascii) {
        ImplodeLiteralMode mode = ascii ? ImplodeLiteralMode::Ascii : ImplodeLiteralMode::Binary;
        for (ImplodeDictionary d : {ImplodeDictionary::Size1024, ImplodeDictionary::Size2048, ImplodeDictionary::Size4096})
            runs.push_back({mode, d, ImplodeEffort::Best});
        runs.push_back({mode, ImplodeDictionary::Size4096, ImplodeEffort::Fast});
    }
    Bytes packed4096;
    for (const Run& r : runs) {
        Bytes packed;
        double s = bestSeconds([&] { packed = implodeWith(data, r.mode, r.dict, r.effort); }, 0.2);
        bool ascii = r.mode == ImplodeLiteralMode::Ascii;
        bool fast = r.effort == ImplodeEffort::Fast;
        std::printf("  implode %-6s dict %4d %-4s: ratio %.4f  %7.1f MB/s\n", ascii ? "ascii" : "binary",
                    static_cast<int>(r.dict), fast ? "fast" : "best", static_cast<double>(packed.size()) / data.size(),
                    mbps(data.size(), s));
        if (!ascii && !fast && r.dict == ImplodeDictionary::Size4096)
            packed4096 = packed;
    }
    Bytes out(data.size());
    double explodeS = bestSeconds([&] { runExplode(packed4096, out); });
    if (out != data) {
        std::fprintf(stderr, "explode output differs\n");
        std::exit(1);
    }
    Bytes z = zlibCompress(data);
    std::fill(out.begin(), out.end(), 0);
    double inflateS = bestSeconds([&] { runInflate(z, out); });
    if (out != data) {
        std::fprintf(stderr, "inflate output differs\n");
        std::exit(1);
    }
    std::printf("  explode (binary, 4096, best): %7.1f MB/s\n", mbps(data.size(), explodeS));
    std::printf("  zlib level 6: ratio %.4f, inflate %7.1f MB/s\n", static_cast<double>(z.size()) / data.size(),
                mbps(data.size(), inflateS));
    std::printf("  explode time / inflate time: %.2f\n", explodeS / inflateS);
}

// One decode of the kind for callgrind; "prepare" stops before decoding.
int singleJob(const std::string& job, const std::string& kind, std::size_t size)
{
    Bytes data = makeCorpus(kind, size);
    Bytes out(data.size());
    std::size_t produced = 0;
    if (job == "decode") {
        Bytes packed = implodeWith(data, ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096);
        BENCH_REGION_BEGIN();
        produced = runExplode(packed, out);
        BENCH_REGION_END();
    } else if (job == "inflate") {
        Bytes z = zlibCompress(data);
        BENCH_REGION_BEGIN();
        produced = runInflate(z, out);
        BENCH_REGION_END();
    } else {
        implodeWith(data, ImplodeLiteralMode::Binary, ImplodeDictionary::Size4096);
        zlibCompress(data);
    }
    if (job != "prepare" && out != data) {
        std::fprintf(stderr, "decoded output differs\n");
        return 1;
    }
    std::printf("output_bytes %zu\nregion_macros %d\n", produced, kHasRegionMacros ? 1 : 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t size = 4u << 20;
    std::string job, kind, dumpPath;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--size" && hasValue) {
            size = static_cast<std::size_t>(std::atof(argv[++i]) * 1048576.0);
        } else if (a == "--exe" && hasValue) {
            gExeFiles.push_back(argv[++i]);
        } else if ((a == "--decode-only" || a == "--inflate-only" || a == "--prepare-only") && hasValue) {
            job = a.substr(2, a.find('-', 2) - 2);
            kind = argv[++i];
        } else if (a == "--dump" && i + 2 < argc) {
            kind = argv[++i];
            dumpPath = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--size MiB] [--exe FILE]... [--decode-only|--inflate-only|"
                                 "--prepare-only KIND] [--dump KIND FILE]\n", argv[0]);
            return 2;
        }
    }
    if (!dumpPath.empty()) {
        Bytes data = makeCorpus(kind, size);
        std::FILE* f = std::fopen(dumpPath.c_str(), "wb");
        if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size())
            return 1;
        std::fclose(f);
        return 0;
    }
    if (!job.empty())
        return singleJob(job, kind, size);
    for (const char* k : {"text", "exe", "random"})
        benchKind(k, size);
    return 0;
}
