// Decoding a JPEG preview picture into 24-bit pixels for the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedImage {
  int width = 0;
  int height = 0;
  // Bottom-up rows of BGR pixels, each row padded to 4 bytes: the layout a
  // Windows device-independent bitmap expects.
  std::vector<std::uint8_t> pixels;
  int stride() const { return (width * 3 + 3) & ~3; }
};

// Decodes a JPEG file held in memory.  False (with a reason) for anything
// that is not a JPEG image libjpeg can read; never aborts the process.
bool decodeJpeg(const std::uint8_t* data, std::size_t size, DecodedImage& image, std::string& error);
