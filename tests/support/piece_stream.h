// Callbacks for the streaming forms of the implode encoder and decoder: the
// read callback hands the input out in pieces of uneven sizes, never more
// than asked, and the write callback collects the output and notes the
// block sizes it was given.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace test_support {

struct PieceStream {
  std::span<const std::uint8_t> in;
  // The size of the next piece; 0 = as much as asked.
  std::function<std::size_t()> nextPiece;
  std::size_t pos = 0;
  std::size_t reads = 0;
  bool askedForNothing = false;  // a read asked for 0 bytes
  std::vector<std::uint8_t> out;
  std::size_t writes = 0;
  std::size_t emptyWrites = 0;
  std::size_t largestWrite = 0;

  explicit PieceStream(std::span<const std::uint8_t> input, std::function<std::size_t()> next = {})
      : in(input), nextPiece(std::move(next)) {}

  // Pieces whose sizes cycle through `sizes` (an empty list: as asked).
  static PieceStream cycling(std::span<const std::uint8_t> input, std::vector<unsigned> sizes) {
    return PieceStream(input, [sizes = std::move(sizes), turn = std::size_t{0}]() mutable -> std::size_t {
      return sizes.empty() ? 0 : sizes[turn++ % sizes.size()];
    });
  }

  static unsigned read(char* buf, unsigned* size, void* param) {
    auto* s = static_cast<PieceStream*>(param);
    ++s->reads;
    s->askedForNothing |= *size == 0;
    std::size_t piece = s->nextPiece ? s->nextPiece() : 0;
    std::size_t n = std::min<std::size_t>({piece ? piece : *size, *size, s->in.size() - s->pos});
    if (n) std::memcpy(buf, s->in.data() + s->pos, n);
    s->pos += n;
    return static_cast<unsigned>(n);
  }

  static void write(char* buf, unsigned* size, void* param) {
    auto* s = static_cast<PieceStream*>(param);
    ++s->writes;
    s->emptyWrites += *size == 0;
    s->largestWrite = std::max<std::size_t>(s->largestWrite, *size);
    s->out.insert(s->out.end(), buf, buf + *size);
  }
};

}  // namespace test_support
