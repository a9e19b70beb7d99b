// zlib inflate stream (declared in package/zstream.h).
#include "package/zstream.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

constexpr ErrorCode kSeekError = 25;      // ERROR_SEEK
constexpr ErrorCode kReadFault = 30;      // ERROR_READ_FAULT
constexpr ErrorCode kNegativeSeek = 131;  // ERROR_NEGATIVE_SEEK
constexpr std::size_t kSkipBlock = 8192;

const char* const kInvalidOperation = "Invalid ZStream operation!";

// The new absolute position of a seek, or -1 when it would be negative or
// overflow.
std::int64_t seekTarget(std::int64_t offset, SeekOrigin origin, std::int64_t current,
                        std::int64_t size)
{
  std::int64_t base = origin == SeekOrigin::Beginning ? 0
                      : origin == SeekOrigin::Current ? current
                                                      : size;
  if (offset > 0 && base > INT64_MAX - offset) return -1;
  std::int64_t target = base + offset;
  return target < 0 ? -1 : target;
}

}  // namespace

// ---------------------------------------------------------------- sources

FileSourceStream::~FileSourceStream()
{
  if (file_) std::fclose(file_);
}

ErrorCode FileSourceStream::open(const std::string& path)
{
  if (file_) std::fclose(file_);
  errno = 0;
  file_ = std::fopen(path.c_str(), "rb");
  if (file_) return errOk;
  switch (errno) {
  case ENOENT: return 2;
  case EACCES:
  case EPERM:
  case EISDIR: return 5;
  default: return 31;
  }
}

std::size_t FileSourceStream::read(void* buffer, std::size_t count)
{
  if (!file_) throw EStreamError("stream not open", kReadFault);
  std::size_t got = std::fread(buffer, 1, count, file_);
  if (got < count && std::ferror(file_)) throw EStreamError("read error", kReadFault);
  return got;
}

std::int64_t FileSourceStream::seek(std::int64_t offset, SeekOrigin origin)
{
  if (!file_) throw EStreamError("stream not open", kSeekError);
  // fseek takes a long, which is 32 bits on Windows: stay within it.
  if (offset > LONG_MAX || offset < LONG_MIN) throw EStreamError("seek out of range", kSeekError);
  int whence = origin == SeekOrigin::Beginning ? SEEK_SET
               : origin == SeekOrigin::Current ? SEEK_CUR
                                               : SEEK_END;
  if (origin == SeekOrigin::Beginning && offset < 0)
    throw EStreamError("negative seek", kNegativeSeek);
  if (std::fseek(file_, static_cast<long>(offset), whence) != 0)
    throw EStreamError("seek error", kSeekError);
  long at = std::ftell(file_);
  if (at < 0) throw EStreamError("seek error", kSeekError);
  return at;
}

std::size_t MemorySourceStream::read(void* buffer, std::size_t count)
{
  auto size = static_cast<std::int64_t>(bytes_.size());
  if (position_ >= size) return 0;
  std::size_t n = static_cast<std::size_t>(size - position_);
  if (n > count) n = count;
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += static_cast<std::int64_t>(n);
  return n;
}

std::int64_t MemorySourceStream::seek(std::int64_t offset, SeekOrigin origin)
{
  std::int64_t target =
      seekTarget(offset, origin, position_, static_cast<std::int64_t>(bytes_.size()));
  if (target < 0) throw EStreamError("negative seek", kNegativeSeek);
  position_ = target;
  return position_;
}

// ---------------------------------------------------------------- zlib streams

const char* zlibErrorText(int code)
{
  switch (code) {
  case Z_NEED_DICT: return "need dictionary";
  case Z_ERRNO: return "file error";
  case Z_STREAM_ERROR: return "stream error";
  case Z_DATA_ERROR: return "data error";
  case Z_MEM_ERROR: return "insufficient memory";
  case Z_BUF_ERROR: return "buffer error";
  case Z_VERSION_ERROR: return "incompatible version";
  default: return "unknown zlib error";
  }
}

TCustomZStream::TCustomZStream(SourceStream& source)
    : source_(source), sourcePosition_(source.position())
{
}

TZDecompressionStream::TZDecompressionStream(SourceStream& source)
    : TCustomZStream(source), start_(sourcePosition_)
{
  zs_.next_in = buffer_;
  zs_.avail_in = 0;
  int r = inflateInit(&zs_);
  if (r != Z_OK) throw EZDecompressionError(zlibErrorText(r));
}

TZDecompressionStream::~TZDecompressionStream()
{
  inflateEnd(&zs_);
}

std::size_t TZDecompressionStream::Read(void* buffer, std::size_t count)
{
  if (ended_ || count == 0) return 0;
  // zlib counts in uInt: hand out at most 1 GB per call.
  if (count > (1u << 30)) count = 1u << 30;
  zs_.next_out = static_cast<Bytef*>(buffer);
  zs_.avail_out = static_cast<uInt>(count);
  // Someone else may have moved the source since our last read.
  if (source_.position() != sourcePosition_) source_.seek(sourcePosition_, SeekOrigin::Beginning);

  while (zs_.avail_out > 0) {
    if (zs_.avail_in == 0) {
      std::size_t got = source_.read(buffer_, kBufferSize);
      if (got > 0) {
        zs_.next_in = buffer_;
        zs_.avail_in = static_cast<uInt>(got);
        sourcePosition_ = source_.position();
        if (OnProgress) OnProgress(*this);
      }
    }
    // Even without new input inflate may have output left (the rest of a
    // copy cut by the end of the last buffer).  No progress at all: the
    // source ended before the zlib stream did (a movie cut short, or one
    // without its final checksum), so hand out what there is.
    int r = inflate(&zs_, Z_NO_FLUSH);
    if (r == Z_BUF_ERROR) break;
    // A preset dictionary is never supplied: inflate would stall on it.
    if (r < 0 || r == Z_NEED_DICT) throw EZDecompressionError(zlibErrorText(r));
    if (r == Z_STREAM_END) {
      ended_ = true;
      if (zs_.avail_in > 0) {
        // Leave the source right after the compressed data.
        sourcePosition_ =
            source_.seek(-static_cast<std::int64_t>(zs_.avail_in), SeekOrigin::Current);
        zs_.avail_in = 0;
      }
      break;
    }
  }
  std::size_t done = count - zs_.avail_out;
  produced_ += static_cast<std::int64_t>(done);
  return done;
}

std::size_t TZDecompressionStream::Write(const void*, std::size_t)
{
  throw EZDecompressionError(kInvalidOperation);
}

void TZDecompressionStream::skip(std::int64_t count)
{
  unsigned char scrap[kSkipBlock];
  while (count > 0) {
    std::size_t want = count > static_cast<std::int64_t>(kSkipBlock) ? kSkipBlock
                                                                     : static_cast<std::size_t>(count);
    std::size_t got = Read(scrap, want);
    if (got == 0) return;
    count -= static_cast<std::int64_t>(got);
  }
}

std::int64_t TZDecompressionStream::Seek(std::int64_t offset, SeekOrigin origin)
{
  if (origin == SeekOrigin::Beginning && offset == 0) {
    int r = inflateReset(&zs_);
    if (r != Z_OK) throw EZDecompressionError(zlibErrorText(r));
    zs_.next_in = buffer_;
    zs_.avail_in = 0;
    // Back to where the stream began, which need not be the source's 0.
    sourcePosition_ = source_.seek(start_, SeekOrigin::Beginning);
    produced_ = 0;
    ended_ = false;
  } else if (origin == SeekOrigin::Current && offset >= 0) {
    skip(offset);
  } else if (origin == SeekOrigin::Beginning && offset >= produced_) {
    skip(offset - produced_);
  } else if (origin == SeekOrigin::End && offset == 0) {
    skip(INT64_MAX);
  } else {
    throw EZDecompressionError(kInvalidOperation);
  }
  return produced_;
}
