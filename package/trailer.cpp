// Integrity trailer: building it and checking a file against it.
#include "package/trailer.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "base/crc32.h"

std::vector<std::uint8_t> serializeTrailer(std::uint32_t crc) {
  std::vector<std::uint8_t> out;
  out.reserve(kTrailerSize);
  ByteWriter w(out);
  w.u32(crc);
  w.u32(kTrailerSize);
  w.bytes(kTrailerMarker.data(), kTrailerMarker.size());
  return out;
}

std::uint32_t trailerCrcOfHead(std::span<const std::uint8_t> head) {
  std::size_t first = std::min(head.size(), kPeHeadSize);
  std::vector<std::uint8_t> copy(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(first));
  zeroPeSigningFields(copy);
  std::uint32_t crc = crc32(copy.data(), copy.size());
  return crc32(head.data() + first, head.size() - first, crc);
}

void appendTrailer(std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> trailer = serializeTrailer(trailerCrcOfHead(file));
  file.insert(file.end(), trailer.begin(), trailer.end());
}

std::optional<std::size_t> findTrailer(std::span<const std::uint8_t> before, bool padded) {
  std::size_t size = before.size();
  for (std::size_t pad = 0; pad <= (padded ? kMaxSignaturePadding : 0); ++pad) {
    if (size < kTrailerSize + pad) break;
    if (pad > 0 && before[size - pad] != 0) break;  // padding is zeros
    std::size_t start = size - pad - kTrailerSize;
    if (std::equal(kTrailerMarker.begin(), kTrailerMarker.end(), before.begin() + static_cast<std::ptrdiff_t>(start + 8)))
      return start;
  }
  return std::nullopt;
}

// A valid trailer followed by `pad` zero bytes, with exactly one byte changed
// in the marker or the padding, at some padding the file may have.
bool endsInDamagedTrailer(std::span<const std::uint8_t> before, bool padded) {
  std::size_t size = before.size();
  for (std::size_t pad = 0; pad <= (padded ? kMaxSignaturePadding : 0); ++pad) {
    if (size < kTrailerSize + pad) break;
    std::size_t markerAt = size - pad - kTrailerMarker.size();
    std::size_t changed = 0;
    for (std::size_t i = 0; i < kTrailerMarker.size(); ++i) changed += before[markerAt + i] != kTrailerMarker[i];
    for (std::size_t i = size - pad; i < size; ++i) changed += before[i] != 0;
    if (changed == 1) return true;
  }
  return false;
}

std::uint64_t packageContentEnd(std::uint64_t fileSize, const ReadAtFn& readAt) {
  std::uint64_t end = fileSize;
  bool padded = false;
  std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kPeHeadSize)));
  if (readAt(0, head.data(), head.size())) {
    std::optional<PeSigningFields> pe = parsePeSigningFields(head);
    if (pe && pe->signedWithin(fileSize)) {
      end = pe->certOffset;
      padded = true;
    }
  }
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end, kTrailerSize + kMaxSignaturePadding));
  std::vector<std::uint8_t> tail(n);
  if (n > 0 && readAt(end - n, tail.data(), n)) {
    if (std::optional<std::size_t> at = findTrailer(tail, padded)) return end - n + *at;
  }
  return end;
}

void TrailerChecker::update(const void* data, std::size_t length) {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  total_ += length;
  if (!headDone_) {
    std::size_t take = std::min(length, kPeHeadSize - head_.size());
    head_.insert(head_.end(), p, p + take);
    p += take;
    length -= take;
    if (head_.size() < kPeHeadSize) return;
    endHead();
  }
  feed(p, length);
}

// The first bytes are known: find the signing fields, read them as zero, and
// stop the check where a certificate table starts.
void TrailerChecker::endHead() {
  headDone_ = true;
  pe_ = parsePeSigningFields(head_);
  if (pe_ && pe_->hasCertEntry()) checkedEnd_ = pe_->certOffset;
  zeroPeSigningFields(head_);
  feed(head_.data(), head_.size());
  head_.clear();
  head_.shrink_to_fit();
}

// Holds back the last kTailSize bytes, since until the end is reached any of
// them may belong to the trailer or its padding; everything older goes into
// the CRC.
void TrailerChecker::feed(const std::uint8_t* p, std::size_t length) {
  if (fed_ >= checkedEnd_) return;
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, checkedEnd_ - fed_));
  fed_ += length;
  if (length >= kTailSize) {
    crc_ = crc32(tail_.data(), tailLength_, crc_);
    crc_ = crc32(p, length - kTailSize, crc_);
    std::memcpy(tail_.data(), p + length - kTailSize, kTailSize);
    tailLength_ = kTailSize;
    return;
  }
  std::size_t overflow = tailLength_ + length > kTailSize ? tailLength_ + length - kTailSize : 0;
  if (overflow > 0) {
    crc_ = crc32(tail_.data(), overflow, crc_);
    std::memmove(tail_.data(), tail_.data() + overflow, tailLength_ - overflow);
    tailLength_ -= overflow;
  }
  if (length > 0) std::memcpy(tail_.data() + tailLength_, p, length);
  tailLength_ += length;
}

TrailerCheck TrailerChecker::finish() const {
  TrailerChecker c = *this;
  if (!c.headDone_) c.endHead();
  bool isSigned = c.pe_ && c.pe_->signedWithin(total_);
  if (c.pe_ && c.pe_->hasCertEntry() && !isSigned) return TrailerCheck::Mismatch;
  std::optional<std::size_t> at = findTrailer(std::span(c.tail_.data(), c.tailLength_), isSigned);
  if (!at) {
    std::span<const std::uint8_t> tail(c.tail_.data(), c.tailLength_);
    return endsInDamagedTrailer(tail, isSigned) ? TrailerCheck::Mismatch : TrailerCheck::Absent;
  }
  const std::uint8_t* trailer = c.tail_.data() + *at;
  if (loadLe32(trailer + 4) != kTrailerSize) return TrailerCheck::Mismatch;
  return loadLe32(trailer) == crc32(c.tail_.data(), *at, c.crc_) ? TrailerCheck::Valid : TrailerCheck::Mismatch;
}

TrailerCheck checkTrailer(std::span<const std::uint8_t> file) {
  TrailerChecker checker;
  checker.update(file.data(), file.size());
  return checker.finish();
}
