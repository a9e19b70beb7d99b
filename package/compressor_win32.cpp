#include "package/compressor_win32.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/error_text_win32.h"
#include "base/install_ui.h"
#include "base/messages.h"
#include "package/explode.h"
#include "system/file_stream_win32.h"

namespace {

// The decoder pulls input through this callback: from a file, never more
// than the member's stored bytes, or from a buffer.
struct ExpandContext {
  FileStream* source = nullptr;
  const std::uint8_t* buffer = nullptr;
  std::uint64_t remaining = 0;
  FileStream* output = nullptr;
  ErrorCode ioError = errOk;
  std::uint64_t written = 0;
  std::uint64_t limit = 0;
  bool overflow = false;  // the output would have passed the limit
};

unsigned readInput(char* buf, unsigned* size, void* param) {
  auto* ctx = static_cast<ExpandContext*>(param);
  if (ctx->ioError || ctx->overflow || ctx->remaining == 0) return 0;
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(*size, ctx->remaining));
  if (ctx->buffer) {
    std::memcpy(buf, ctx->buffer, want);
    ctx->buffer += want;
    ctx->remaining -= want;
    return static_cast<unsigned>(want);
  }
  std::size_t got = 0;
  if (ErrorCode e = ctx->source->read(buf, want, got)) {
    ctx->ioError = e;
    return 0;
  }
  ctx->remaining -= got;
  if (got == 0) ctx->remaining = 0;
  return static_cast<unsigned>(got);
}

void writeOutput(char* buf, unsigned* size, void* param) {
  auto* ctx = static_cast<ExpandContext*>(param);
  if (ctx->ioError || ctx->overflow) return;
  if (*size > ctx->limit - ctx->written) {
    // No more input is handed out either, so the decoder ends soon.
    ctx->overflow = true;
    return;
  }
  ctx->written += *size;
  ctx->ioError = ctx->output->write(buf, *size);
}

ErrorCode expand(const std::string& outputPath, ExpandContext& ctx, InstallUi* ui) {
  FileStream out;
  ErrorCode result = out.create(outputPath);
  if (result == errOk) {
    ctx.output = &out;
    explodeStream(readInput, writeOutput, &ctx);
    result = ctx.ioError;
    if (ErrorCode closed = out.close(); result == errOk) result = closed;
    if (result == errOk && ctx.overflow) return errSizeMismatch;
  }
  if (result != errOk && ui) ui->showMessage(zipErrorMessage(systemErrorText(result)));
  return result;
}

}  // namespace

TCompressor::TCompressor(const std::string&) : loaded_(true) {}

ErrorCode TCompressor::expandToFile(const std::string& outputPath, FileStream& source, std::uint64_t count,
                                    InstallUi* ui, std::uint64_t outputLimit) {
  ExpandContext ctx;
  ctx.limit = outputLimit;
  ctx.source = &source;
  ctx.remaining = count;
  return expand(outputPath, ctx, ui);
}

ErrorCode TCompressor::expandToFile(const std::string& outputPath, const std::uint8_t* buffer, std::size_t count,
                                    InstallUi* ui, std::uint64_t outputLimit) {
  ExpandContext ctx;
  ctx.limit = outputLimit;
  ctx.buffer = buffer;
  ctx.remaining = count;
  return expand(outputPath, ctx, ui);
}
