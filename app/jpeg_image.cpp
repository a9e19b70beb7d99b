#include "app/jpeg_image.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// jump back to decodeJpeg instead of letting it end the process.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr, int) {}  // warnings are not shown

constexpr long kMaxPixels = 64L * 1024 * 1024;  // a bound on what a preview may cost

}  // namespace

bool decodeJpeg(const std::uint8_t* data, std::size_t size, DecodedImage& image, std::string& error) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.base);
  err.base.error_exit = onError;
  err.base.emit_message = onMessage;
  image = DecodedImage{};
  // No objects with destructors may live between setjmp and longjmp below.
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    error = err.message;
    image = DecodedImage{};
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3 || static_cast<long>(cinfo.output_width) * cinfo.output_height > kMaxPixels) {
    jpeg_destroy_decompress(&cinfo);
    error = "unsupported picture size or colour format";
    return false;
  }
  image.width = static_cast<int>(cinfo.output_width);
  image.height = static_cast<int>(cinfo.output_height);
  image.pixels.assign(static_cast<std::size_t>(image.stride()) * image.height, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    int y = static_cast<int>(cinfo.output_scanline);
    std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(image.height - 1 - y) * image.stride();
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (int x = 0; x < image.width; ++x) {  // RGB to BGR in place
      std::uint8_t r = row[3 * x];
      row[3 * x] = row[3 * x + 2];
      row[3 * x + 2] = r;
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}
