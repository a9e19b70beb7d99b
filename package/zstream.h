// A read-only stream that inflates zlib data (RFC 1950) from a source stream.
//
// The movie panel turns a compressed SWF movie ("CWS": one zlib stream from
// offset 8 on) into an uncompressed copy through it.  Reads pull up to 65536
// bytes at a time from the source; when the zlib stream ends, the source is
// moved back over the bytes read past its end, so it stands right after the
// compressed data and whatever follows can be read from there.
//
// Errors are raised: EZDecompressionError for bad data and for
// operations the stream does not offer, EStreamError from the source.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "base/error_codes.h"

enum class SeekOrigin { Beginning, Current, End };

// A failed read or seek on a source stream, with the file error number the
// installer reports for it (30 read fault, 25 seek error, 131 negative seek).
class EStreamError : public std::runtime_error {
public:
  EStreamError(const std::string& what, ErrorCode code) : std::runtime_error(what), code_(code) {}
  ErrorCode code() const { return code_; }

private:
  ErrorCode code_;
};

// What the inflate stream needs of its source.
class SourceStream {
public:
  virtual ~SourceStream() = default;
  // Up to count bytes; 0 only at the end of the data.  Raises EStreamError.
  virtual std::size_t read(void* buffer, std::size_t count) = 0;
  // Moves to a new position (0 or more; beyond the end is allowed, reads
  // there give 0) and returns it.  Raises EStreamError.
  virtual std::int64_t seek(std::int64_t offset, SeekOrigin origin) = 0;
  std::int64_t position() { return seek(0, SeekOrigin::Current); }
};

// A file opened read-only through the C library.
class FileSourceStream : public SourceStream {
public:
  FileSourceStream() = default;
  ~FileSourceStream() override;
  FileSourceStream(const FileSourceStream&) = delete;
  FileSourceStream& operator=(const FileSourceStream&) = delete;

  // 0, or a file error number (2 not found, 5 access denied, 31 other).
  ErrorCode open(const std::string& path);
  std::size_t read(void* buffer, std::size_t count) override;
  std::int64_t seek(std::int64_t offset, SeekOrigin origin) override;

private:
  std::FILE* file_ = nullptr;
};

// Bytes held in memory.
class MemorySourceStream : public SourceStream {
public:
  explicit MemorySourceStream(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t read(void* buffer, std::size_t count) override;
  std::int64_t seek(std::int64_t offset, SeekOrigin origin) override;

private:
  std::string bytes_;
  std::int64_t position_ = 0;
};

class EZLibError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class EZDecompressionError : public EZLibError {
public:
  using EZLibError::EZLibError;
};

// zlib's message for one of its result codes: "file error", "stream error",
// "data error", "insufficient memory", "buffer error", "incompatible version",
// "need dictionary".
const char* zlibErrorText(int code);

// The state both zlib streams share: the source, where the source stood
// after the last read from it, the progress callback, inflate's state and
// the input buffer.  The object holds the 64 KB buffer itself, so allocate
// it on the heap.  Not copyable: zlib's state points into the object.
class TCustomZStream {
public:
  static constexpr std::size_t kBufferSize = 65536;

  TCustomZStream(const TCustomZStream&) = delete;
  TCustomZStream& operator=(const TCustomZStream&) = delete;

  // Called with the stream after every refill of the input buffer.
  std::function<void(TCustomZStream&)> OnProgress;

protected:
  explicit TCustomZStream(SourceStream& source);
  ~TCustomZStream() = default;

  SourceStream& source_;
  std::int64_t sourcePosition_;  // the source's position after our last read or seek
  z_stream zs_{};
  unsigned char buffer_[kBufferSize];
};

class TZDecompressionStream : public TCustomZStream {
public:
  // Starts at the source's current position.  Raises EZDecompressionError
  // when inflate cannot be set up.
  explicit TZDecompressionStream(SourceStream& source);
  ~TZDecompressionStream();

  // Inflates up to count bytes into buffer; fewer only at the end of the
  // compressed data or of the source, 0 after it.  A source that ends before
  // the zlib stream does (cut short, or without its final checksum) is the
  // end of the data, not an error.  Bad data raises EZDecompressionError
  // with zlib's text ("data error").
  std::size_t Read(void* buffer, std::size_t count);
  // Always raises EZDecompressionError("Invalid ZStream operation!").
  [[noreturn]] std::size_t Write(const void* buffer, std::size_t count);
  // Offset 0 from the beginning restarts at the start position; a forward
  // move (non-negative offset from the current position, or an absolute
  // position at or beyond the bytes produced) inflates and discards the
  // difference; offset 0 from the end inflates to the end.  Anything else
  // raises "Invalid ZStream operation!".  Returns the bytes produced so far.
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin);

  std::int64_t position() const { return produced_; }

private:
  void skip(std::int64_t count);

  std::int64_t start_;         // the source's position when the stream was made
  std::int64_t produced_ = 0;  // inflated bytes handed out since the (re)start
  bool ended_ = false;         // the zlib stream is complete
};
