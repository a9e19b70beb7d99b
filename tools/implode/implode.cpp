// Implode encoder: hash chains over the dictionary window, two parsers
// that price every choice in exact bits under the format's fixed codes, and
// a bit writer for the format in package/explode.h.
#include "tools/implode/implode.h"

#include "package/explode.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

constexpr unsigned kHashBits = 15;
constexpr std::size_t kWholeTrialLimit = 256 * 1024; // Auto tries every choice up to this size
constexpr std::size_t kSampleSize = 64 * 1024;       // ... and samples of this size beyond

// Search effort per parser.
struct Effort {
    unsigned chain;      // chain candidates tried at a position
    unsigned nice;       // a match this long ends the search (and is taken)
};
constexpr Effort kBestEffort{16, 128};
constexpr Effort kFastEffort{16, 128};
constexpr unsigned kLazyGoodLength = 16; // a pending match this long: search half as far
// Bits by which the next position's match must out-save the pending one to
// displace it: the pending match leaves the bytes after it to later matches,
// which on average save more (found by trial on text and machine code).
constexpr int kLazyBias = 8;
constexpr unsigned kMaxChain = 16;       // the largest chain of either

inline std::uint64_t load64(const std::uint8_t* p)
{
    return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
           std::uint64_t{p[3]} << 24 | std::uint64_t{p[4]} << 32 | std::uint64_t{p[5]} << 40 |
           std::uint64_t{p[6]} << 48 | std::uint64_t{p[7]} << 56;
}

struct Code {
    std::uint32_t bits; // in stream order, first bit in bit 0
    std::uint32_t count;
};

// The format's codes as whole bit strings, flag bit included.
struct CodeBook {
    Code literal[dcl::kLiteralSymbols];
    Code length[dcl::kEndLength + 1];   // flag, length code and extra bits
    Code distance[dcl::kDistanceSymbols];
    unsigned lowBits;                   // low distance bits of copies longer than 2
    std::uint8_t distCost[dcl::kMaxDistance + 1] = {}; // distance field bits, lengths > 2
    std::uint8_t distCost2[dcl::kMaxLen2Distance + 1]; // ... for length 2

    CodeBook(bool ascii, unsigned dictCode)
    {
        std::uint16_t codes[dcl::kLiteralSymbols] = {};
        dcl::streamCodes(dcl::kLiteralCodeBits, dcl::kLiteralSymbols, codes);
        for (unsigned c = 0; c < dcl::kLiteralSymbols; ++c)
            literal[c] = ascii ? Code{std::uint32_t{codes[c]} << 1, 1u + dcl::kLiteralCodeBits[c]}
                               : Code{c << 1, 9};
        dcl::streamCodes(dcl::kLengthCodeBits, dcl::kLengthSymbols, codes);
        for (unsigned s = 0; s < dcl::kLengthSymbols; ++s) {
            unsigned base = dcl::kLengthBase[s];
            unsigned codeBits = dcl::kLengthCodeBits[s];
            unsigned extraBits = dcl::kLengthExtraBits[s];
            for (unsigned extra = 0; extra < (1u << extraBits); ++extra)
                length[base + extra] = Code{1u | std::uint32_t{codes[s]} << 1 | extra << (1 + codeBits),
                                            1 + codeBits + extraBits};
        }
        dcl::streamCodes(dcl::kDistanceCodeBits, dcl::kDistanceSymbols, codes);
        for (unsigned s = 0; s < dcl::kDistanceSymbols; ++s)
            distance[s] = Code{codes[s], dcl::kDistanceCodeBits[s]};
        lowBits = dictCode;
        for (unsigned d = 1; d <= (64u << lowBits); ++d) // the dictionary bounds distances
            distCost[d] = static_cast<std::uint8_t>(dcl::kDistanceCodeBits[(d - 1) >> lowBits] + lowBits);
        for (unsigned d = 1; d <= dcl::kMaxLen2Distance; ++d)
            distCost2[d] = static_cast<std::uint8_t>(dcl::kDistanceCodeBits[(d - 1) >> 2] + 2);
    }

    unsigned matchCost(unsigned len, unsigned dist) const
    {
        return length[len].count + (len == 2 ? distCost2[dist] : distCost[dist]);
    }
};

// Writes bits into a buffer sized for the worst case up front.
class BitWriter {
public:
    explicit BitWriter(std::uint8_t* out) : next_(out) {}

    void put(std::uint32_t bits, unsigned count) // count <= 32
    {
        acc_ |= std::uint64_t{bits} << count_;
        count_ += count;
        if (count_ >= 32) {
            for (int i = 0; i < 4; ++i)
                next_[i] = static_cast<std::uint8_t>(acc_ >> (8 * i));
            next_ += 4;
            acc_ >>= 32;
            count_ -= 32;
        }
    }

    // Pads the last byte with zero bits; returns the end of the output.
    std::uint8_t* finish()
    {
        for (; count_ > 0; count_ = count_ > 8 ? count_ - 8 : 0) {
            *next_++ = static_cast<std::uint8_t>(acc_);
            acc_ >>= 8;
        }
        return next_;
    }

private:
    std::uint8_t* next_;
    std::uint64_t acc_ = 0;
    unsigned count_ = 0;
};

struct Match { // plain, so arrays of candidates cost nothing to set up
    unsigned len;
    unsigned dist;
};

// Hash chains over the dictionary window.  Table slots hold positions plus
// kBias, so an empty slot (0) always looks farther back than any dictionary
// and ends a chain without a test of its own.
class MatchFinder {
public:
    static constexpr std::size_t kBias = 2 * dcl::kMaxDistance;

    MatchFinder(const std::uint8_t* data, std::size_t n, unsigned dictSize)
        : data_(data), n_(n), dict_(dictSize), head_(std::size_t{1} << kHashBits, 0),
          prev_(dcl::kMaxDistance, 0), last2_(std::size_t{1} << 16, 0)
    {
    }

    void insert(std::size_t pos)
    {
        if (pos + 3 <= n_) {
            unsigned h = hash3(pos);
            prev_[pos & (dcl::kMaxDistance - 1)] = head_[h];
            head_[h] = pos + kBias;
        }
        if (pos + 2 <= n_)
            last2_[pair(pos)] = pos + kBias;
    }

    // Matches at pos of strictly increasing length, each at the nearest
    // distance found for it (the chain runs from near to far, and nearer
    // distances never cost more bits): a length-2 match within 256 bytes
    // first, then chain matches of 3 or more.  limit >= 2 caps the length.
    // Inserts pos.  Returns the count; out needs room for chain + 1 entries.
    int findAndInsert(std::size_t pos, unsigned limit, unsigned chain, unsigned nice, Match* out)
    {
        int count = 0;
        std::size_t& slot2 = last2_[pair(pos)];
        std::size_t d2 = pos + kBias - slot2;
        slot2 = pos + kBias;
        if (d2 <= dcl::kMaxLen2Distance)
            out[count++] = Match{2, static_cast<unsigned>(d2)};
        if (pos + 3 > n_)
            return count;
        std::size_t& head = head_[hash3(pos)];
        std::size_t c = head;
        prev_[pos & (dcl::kMaxDistance - 1)] = c;
        head = pos + kBias;
        if (limit < 3)
            return count;
        const std::uint8_t* cur = data_ + pos;
        unsigned best = 2; // chain matches must be longer
        for (; chain--; c = prev_[(c - kBias) & (dcl::kMaxDistance - 1)]) {
            std::size_t dist = pos + kBias - c;
            if (dist > dict_)
                break;
            const std::uint8_t* p = cur - dist;
            // Cheap reject: a longer match must agree at its last new byte.
            if (p[best] != cur[best] || p[0] != cur[0] || p[1] != cur[1])
                continue;
            unsigned len = matchLength(p, cur, limit);
            if (len <= best)
                continue;
            best = len;
            out[count++] = Match{len, static_cast<unsigned>(dist)};
            if (len >= nice || len == limit)
                break;
        }
        return count;
    }

private:
    unsigned hash3(std::size_t pos) const
    {
        std::uint32_t v = std::uint32_t{data_[pos]} | std::uint32_t{data_[pos + 1]} << 8 |
                          std::uint32_t{data_[pos + 2]} << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    unsigned pair(std::size_t pos) const { return data_[pos] | unsigned{data_[pos + 1]} << 8; }

    static unsigned matchLength(const std::uint8_t* a, const std::uint8_t* b, unsigned limit)
    {
        unsigned len = 0;
        while (len + 8 <= limit) {
            std::uint64_t x = load64(a + len) ^ load64(b + len);
            if (x)
                return len + static_cast<unsigned>(__builtin_ctzll(x)) / 8;
            len += 8;
        }
        while (len < limit && a[len] == b[len])
            ++len;
        return len;
    }

    const std::uint8_t* data_;
    std::size_t n_;
    std::size_t dict_;
    std::vector<std::size_t> head_;  // per 3-byte hash: last position
    std::vector<std::size_t> prev_;  // per window slot: previous position of its hash
    std::vector<std::size_t> last2_; // per byte pair: last position
};

// What both parsers share: the input, the codes, the match finder and the
// writing of tokens.
template <bool Ascii>
class EncoderBase {
protected:
    EncoderBase(const std::uint8_t* data, std::size_t n, unsigned dictCode)
        : data_(data), n_(n), book_(Ascii, dictCode), finder_(data, n, 64u << dictCode)
    {
    }

    BitWriter start(std::uint8_t* out) const
    {
        out[0] = Ascii ? 1 : 0;
        out[1] = static_cast<std::uint8_t>(book_.lowBits);
        return BitWriter(out + 2);
    }

    std::uint8_t* finish(BitWriter& bw) const
    {
        const Code& end = book_.length[dcl::kEndLength];
        bw.put(end.bits, end.count);
        return bw.finish();
    }

    unsigned limitAt(std::size_t pos, std::size_t end) const
    {
        std::size_t left = end - pos;
        return left < dcl::kMaxMatch ? static_cast<unsigned>(left) : dcl::kMaxMatch;
    }

    void emitLiteral(BitWriter& bw, std::size_t pos) const
    {
        const Code& c = book_.literal[data_[pos]];
        bw.put(c.bits, c.count);
    }

    void emitMatch(BitWriter& bw, const Match& m) const
    {
        const Code& len = book_.length[m.len];
        bw.put(len.bits, len.count);
        unsigned low = m.len == 2 ? 2 : book_.lowBits;
        unsigned d = m.dist - 1;
        const Code& high = book_.distance[d >> low];
        bw.put(high.bits | (d & ((1u << low) - 1)) << high.count, high.count + low);
    }

    static void report(const ImplodeProgressFn* progress, std::size_t done, std::size_t total)
    {
        if (progress && *progress)
            (*progress)(done, total);
    }

    const std::uint8_t* data_;
    std::size_t n_;
    CodeBook book_;
    MatchFinder finder_;
};

// Chooses literals and copies for the fewest total bits, a block at a time:
// with fixed codes every choice has a known price, so the cheapest parse is a
// shortest path over the block's positions, each position's matches relaxing
// the positions they reach.  Inside a match of nice length or more the search
// is skipped, so long runs stay fast.
template <bool Ascii>
class OptimalEncoder : EncoderBase<Ascii> {
    using Base = EncoderBase<Ascii>;
    using Base::book_;
    using Base::data_;
    using Base::finder_;
    using Base::n_;

public:
    OptimalEncoder(const std::uint8_t* data, std::size_t n, unsigned dictCode) : Base(data, n, dictCode)
    {
        for (unsigned len = 2; len <= dcl::kMaxMatch; ++len)
            lenCost_[len] = static_cast<std::uint8_t>(book_.length[len].count);
    }

    // Writes the stream behind out; returns its end.
    std::uint8_t* run(std::uint8_t* out, const ImplodeProgressFn* progress)
    {
        BitWriter bw = Base::start(out);
        std::vector<std::uint32_t> cost(kBlock + 1);
        std::vector<std::uint32_t> via(kBlock + 1);
        std::vector<std::uint32_t> path;
        for (std::size_t start = 0; start < n_; start += kBlock) {
            std::size_t len = std::min(n_ - start, kBlock);
            price(start, len, cost.data(), via.data());
            path.clear();
            for (std::size_t i = len; i > 0; i -= via[i] ? via[i] >> 12 : 1)
                path.push_back(via[i]);
            std::size_t pos = start;
            for (auto it = path.rbegin(); it != path.rend(); ++it) {
                if (*it) {
                    Match m{*it >> 12, (*it & 0xfff) + 1};
                    Base::emitMatch(bw, m);
                    pos += m.len;
                } else {
                    Base::emitLiteral(bw, pos++);
                }
            }
            Base::report(progress, start + len, n_);
        }
        return Base::finish(bw);
    }

private:
    static constexpr std::size_t kBlock = std::size_t{1} << 16;

    // Shortest path over data[start .. start+len): cost[i] = bits to reach
    // start+i, via[i] = how: 0 for a literal, else len << 12 | (dist - 1).
    void price(std::size_t start, std::size_t len, std::uint32_t* cost, std::uint32_t* via)
    {
        std::fill(cost, cost + len + 1, 0xffffffffu);
        cost[0] = 0;
        Match ms[kMaxChain + 1];
        std::size_t skipTo = 0;
        for (std::size_t i = 0; i < len; ++i) {
            std::size_t pos = start + i;
            std::uint32_t here = cost[i];
            relax(cost, via, i + 1, here + book_.literal[data_[pos]].count, 0);
            if (pos < skipTo || len - i < 2) {
                finder_.insert(pos);
                continue;
            }
            unsigned limit = Base::limitAt(pos, start + len);
            int count = finder_.findAndInsert(pos, limit, kBestEffort.chain, kBestEffort.nice, ms);
            unsigned from = 3; // length 2 comes only from the pair table's candidate
            for (int k = 0; k < count; ++k) {
                const Match& m = ms[k];
                if (m.len == 2) {
                    relax(cost, via, i + 2, here + lenCost_[2] + book_.distCost2[m.dist], 2 << 12 | (m.dist - 1));
                    continue;
                }
                std::uint32_t base = here + book_.distCost[m.dist];
                for (unsigned l = from; l <= m.len; ++l)
                    relax(cost, via, i + l, base + lenCost_[l], l << 12 | (m.dist - 1));
                from = m.len + 1;
            }
            if (count && ms[count - 1].len >= kBestEffort.nice)
                skipTo = pos + ms[count - 1].len;
        }
    }

    static void relax(std::uint32_t* cost, std::uint32_t* via, std::size_t at, std::uint32_t c, std::uint32_t how)
    {
        if (c < cost[at]) {
            cost[at] = c;
            via[at] = how;
        }
    }

    std::uint8_t lenCost_[dcl::kMaxMatch + 1] = {};
};

// Greedy with one step of lazy evaluation: a match found at pos is held back
// while the match at pos + 1 saves clearly more bits (then pos becomes a
// literal).
template <bool Ascii>
class LazyEncoder : EncoderBase<Ascii> {
    using Base = EncoderBase<Ascii>;
    using Base::book_;
    using Base::data_;
    using Base::finder_;
    using Base::n_;

public:
    LazyEncoder(const std::uint8_t* data, std::size_t n, unsigned dictCode) : Base(data, n, dictCode) {}

    std::uint8_t* run(std::uint8_t* out, const ImplodeProgressFn* progress)
    {
        BitWriter bw = Base::start(out);
        constexpr std::size_t kReportStep = kSampleSize * 16;
        std::size_t nextReport = kReportStep;
        Match pending{}; // the match at pos - 1, if len != 0
        int pendingGain = 0;
        std::size_t pos = 0;
        while (pos < n_) {
            if (pos >= nextReport) {
                Base::report(progress, pos, n_);
                nextReport = pos + kReportStep;
            }
            Match cur = longest(pos, pending.len >= kLazyGoodLength ? kFastEffort.chain / 2 : kFastEffort.chain);
            int curGain = cur.len ? gain(pos, cur) : -1;
            if (pending.len && curGain > pendingGain + kLazyBias) { // literal, then the later match
                Base::emitLiteral(bw, pos - 1);
                pending = cur;
                pendingGain = curGain;
                ++pos;
            } else if (pending.len) {
                Base::emitMatch(bw, pending);
                skip(pos + 1, pos - 1 + pending.len);
                pos += pending.len - 1;
                pending = Match{};
            } else if (curGain <= 0) {
                Base::emitLiteral(bw, pos++);
            } else if (cur.len >= kFastEffort.nice) {
                Base::emitMatch(bw, cur);
                skip(pos + 1, pos + cur.len);
                pos += cur.len;
            } else {
                pending = cur;
                pendingGain = curGain;
                ++pos;
            }
        }
        Base::report(progress, n_, n_);
        return Base::finish(bw);
    }

private:
    Match longest(std::size_t pos, unsigned chain)
    {
        if (n_ - pos < 2) {
            finder_.insert(pos);
            return Match{};
        }
        Match ms[kMaxChain + 1];
        int count = finder_.findAndInsert(pos, Base::limitAt(pos, n_), chain, kFastEffort.nice, ms);
        return count ? ms[count - 1] : Match{};
    }

    void skip(std::size_t from, std::size_t to)
    {
        for (std::size_t p = from; p < to; ++p)
            finder_.insert(p);
    }

    // Bits a match saves over literals.
    int gain(std::size_t pos, const Match& m) const
    {
        int literals = 9 * static_cast<int>(m.len);
        if (Ascii) {
            literals = 0;
            for (unsigned i = 0; i < m.len; ++i)
                literals += static_cast<int>(book_.literal[data_[pos + i]].count);
        }
        return literals - static_cast<int>(book_.matchCost(m.len, m.dist));
    }
};

// Header, worst-case bits (every byte a literal) and the end code.
std::size_t worstCaseSize(std::size_t n, bool ascii)
{
    return 2 + (n * (ascii ? 1 + dcl::kMaxLiteralCodeBits : 9) + 7) / 8 + 3 + 4;
}

template <bool Ascii>
std::uint8_t* encodeInto(std::uint8_t* out, const std::uint8_t* data, std::size_t n, unsigned dictCode, bool fast,
                         const ImplodeProgressFn* progress)
{
    if (fast)
        return LazyEncoder<Ascii>(data, n, dictCode).run(out, progress);
    return OptimalEncoder<Ascii>(data, n, dictCode).run(out, progress);
}

std::vector<std::uint8_t> encodeWith(const std::uint8_t* data, std::size_t n, bool ascii, unsigned dictCode,
                                     bool fast, const ImplodeProgressFn* progress)
{
    std::vector<std::uint8_t> out(worstCaseSize(n, ascii));
    std::uint8_t* end = ascii ? encodeInto<true>(out.data(), data, n, dictCode, fast, progress)
                              : encodeInto<false>(out.data(), data, n, dictCode, fast, progress);
    out.resize(static_cast<std::size_t>(end - out.data()));
    out.shrink_to_fit();
    return out;
}

struct Choice {
    bool ascii;
    unsigned dictCode;
};

// The literal modes and dictionary sizes the options allow.
int allowedChoices(const ImplodeOptions& opts, Choice (&choices)[6])
{
    bool anyDict = opts.dictionary != ImplodeDictionary::Size1024 &&
                   opts.dictionary != ImplodeDictionary::Size2048 &&
                   opts.dictionary != ImplodeDictionary::Size4096; // Auto, or a stray value
    int count = 0;
    for (int a = 0; a < 2; ++a) {
        bool ascii = a == 1;
        if (opts.literalMode != ImplodeLiteralMode::Auto && ascii != (opts.literalMode == ImplodeLiteralMode::Ascii))
            continue;
        for (unsigned code = dcl::kMinDictionaryCode; code <= dcl::kMaxDictionaryCode; ++code)
            if (anyDict || (64u << code) == static_cast<unsigned>(opts.dictionary))
                choices[count++] = Choice{ascii, code};
    }
    return count;
}

// The choice that compresses three samples (start, middle, end) best.
Choice chooseBySamples(const std::uint8_t* data, std::size_t n, const Choice* choices, int count, bool fast)
{
    const std::size_t starts[3] = {0, n / 2 - kSampleSize / 2, n - kSampleSize};
    Choice best = choices[0];
    std::size_t bestSize = SIZE_MAX;
    for (int i = 0; i < count; ++i) {
        std::size_t size = 0;
        for (std::size_t start : starts)
            size += encodeWith(data + start, kSampleSize, choices[i].ascii, choices[i].dictCode, fast, nullptr).size();
        if (size < bestSize) {
            bestSize = size;
            best = choices[i];
        }
    }
    return best;
}

} // namespace

std::vector<std::uint8_t> implodeBuffer(const std::uint8_t* data, std::size_t n, ImplodeOptions opts)
{
    static const std::uint8_t kNothing = 0;
    if (n == 0)
        data = &kNothing;
    bool fast = opts.effort == ImplodeEffort::Fast;
    Choice choices[6];
    int count = allowedChoices(opts, choices);
    if (count > 1 && n > kWholeTrialLimit) {
        choices[0] = chooseBySamples(data, n, choices, count, fast);
        count = 1;
    }
    // Small inputs: every allowed choice in full, the smallest wins (the
    // earlier one on a tie: binary before ASCII, small dictionary first).
    std::vector<std::uint8_t> best;
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> out =
            encodeWith(data, n, choices[i].ascii, choices[i].dictCode, fast, count == 1 ? &opts.progress : nullptr);
        if (i == 0 || out.size() < best.size())
            best.swap(out);
    }
    if (count > 1 && opts.progress)
        opts.progress(n, n);
    return best;
}

bool implodeStream(ImplodeReadFn read, ImplodeWriteFn write, void* param, ImplodeOptions opts)
{
    try {
        std::vector<std::uint8_t> input;
        std::vector<char> chunk(64 * 1024);
        for (;;) {
            unsigned size = static_cast<unsigned>(chunk.size());
            unsigned got = read(chunk.data(), &size, param);
            if (got == 0)
                break;
            got = std::min<unsigned>(got, static_cast<unsigned>(chunk.size()));
            input.insert(input.end(), chunk.data(), chunk.data() + got);
        }
        std::vector<std::uint8_t> packed = implodeBuffer(input.data(), input.size(), std::move(opts));
        for (std::size_t done = 0; done < packed.size();) {
            unsigned block = static_cast<unsigned>(std::min<std::size_t>(packed.size() - done, 64 * 1024));
            unsigned size = block;
            write(reinterpret_cast<char*>(packed.data() + done), &size, param);
            done += block;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
