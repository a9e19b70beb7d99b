// Little-endian byte reader and writer for the binary formats the installer
// reads (package header, data file, SWF headers, version resources).
//
// ByteReader is a sticky-error cursor over a borrowed byte span: the first
// read past the end sets failed(), and from then on every read returns 0 or
// an empty span and leaves the cursor where the failure happened.  A whole
// record can therefore be read with a run of calls and checked once at the
// end.  Integers are assembled byte by byte, so the result never depends on
// the host's byte order or alignment.
//
// ByteWriter appends to a caller-owned std::vector<uint8_t>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

inline std::uint16_t loadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(p[0]) |
                                    (static_cast<std::uint32_t>(p[1]) << 8));
}

inline std::uint32_t loadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void storeLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void storeLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}
  ByteReader(const void* data, std::size_t size)
      : data_(static_cast<const std::uint8_t*>(data), size) {}

  std::uint8_t u8() {
    const std::uint8_t* p = take(1);
    return p ? p[0] : 0;
  }
  std::uint16_t u16() {
    const std::uint8_t* p = take(2);
    return p ? loadLe16(p) : 0;
  }
  std::uint32_t u32() {
    const std::uint8_t* p = take(4);
    return p ? loadLe32(p) : 0;
  }
  // Two's complement reinterpretation; well defined since C++20.
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

  // The next n bytes, or an empty span (and the error set) if fewer remain.
  std::span<const std::uint8_t> bytes(std::size_t n) {
    const std::uint8_t* p = take(n);
    return p ? std::span<const std::uint8_t>(p, n) : std::span<const std::uint8_t>();
  }
  // Copies the next n bytes to dst; on overrun dst is zero-filled.
  void read(void* dst, std::size_t n) {
    const std::uint8_t* p = take(n);
    if (p) {
      if (n) std::memcpy(dst, p, n);
    } else if (n) {
      std::memset(dst, 0, n);
    }
  }
  void skip(std::size_t n) { take(n); }
  // Moves to an absolute position; a position past the end is an overrun.
  void seek(std::size_t pos) {
    if (failed_) return;
    if (pos > data_.size()) {
      failed_ = true;
      return;
    }
    pos_ = pos;
  }

  std::size_t position() const { return pos_; }
  std::size_t size() const { return data_.size(); }
  std::size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }
  bool failed() const { return failed_; }
  bool ok() const { return !failed_; }

 private:
  const std::uint8_t* take(std::size_t n) {
    if (failed_) return nullptr;
    if (n > data_.size() - pos_) {
      failed_ = true;
      return nullptr;
    }
    const std::uint8_t* p = data_.data() + pos_;
    pos_ += n;
    return p;
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) {
    std::uint8_t b[2];
    storeLe16(b, v);
    out_.insert(out_.end(), b, b + 2);
  }
  void u32(std::uint32_t v) {
    std::uint8_t b[4];
    storeLe32(b, v);
    out_.insert(out_.end(), b, b + 4);
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  void bytes(std::span<const std::uint8_t> data) { out_.insert(out_.end(), data.begin(), data.end()); }
  void bytes(const void* data, std::size_t n) {
    bytes(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(data), n));
  }
  void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
  // A fixed-size text field: the first fieldSize bytes of s, NUL-padded.
  void fixedText(std::string_view s, std::size_t fieldSize) {
    std::size_t n = s.size() < fieldSize ? s.size() : fieldSize;
    bytes(s.data(), n);
    zeros(fieldSize - n);
  }

  std::size_t size() const { return out_.size(); }

 private:
  std::vector<std::uint8_t>& out_;
};
