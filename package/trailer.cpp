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

void appendTrailer(std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> trailer = serializeTrailer(crc32(file.data(), file.size()));
  file.insert(file.end(), trailer.begin(), trailer.end());
}

// Holds back the last kTrailerSize bytes, since until the end is reached any
// of them may belong to the trailer; everything older goes into the CRC.
void TrailerChecker::update(const void* data, std::size_t length) {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  total_ += length;
  if (length >= kTrailerSize) {
    crc_ = crc32(tail_.data(), tailLength_, crc_);
    crc_ = crc32(p, length - kTrailerSize, crc_);
    std::memcpy(tail_.data(), p + length - kTrailerSize, kTrailerSize);
    tailLength_ = kTrailerSize;
    return;
  }
  std::size_t overflow = tailLength_ + length > kTrailerSize ? tailLength_ + length - kTrailerSize : 0;
  if (overflow > 0) {
    crc_ = crc32(tail_.data(), overflow, crc_);
    std::memmove(tail_.data(), tail_.data() + overflow, tailLength_ - overflow);
    tailLength_ -= overflow;
  }
  if (length > 0) std::memcpy(tail_.data() + tailLength_, p, length);
  tailLength_ += length;
}

TrailerCheck TrailerChecker::finish() const {
  if (tailLength_ < kTrailerSize) return TrailerCheck::Absent;
  if (!std::equal(kTrailerMarker.begin(), kTrailerMarker.end(), tail_.begin() + 8)) return TrailerCheck::Absent;
  if (loadLe32(tail_.data() + 4) != kTrailerSize) return TrailerCheck::Mismatch;
  return loadLe32(tail_.data()) == crc_ ? TrailerCheck::Valid : TrailerCheck::Mismatch;
}

TrailerCheck checkTrailer(std::span<const std::uint8_t> file) {
  TrailerChecker checker;
  checker.update(file.data(), file.size());
  return checker.finish();
}
