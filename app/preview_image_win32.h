// bmpPanel: an image control that shows a Windows bitmap or a JPEG picture
// stretched to fill the control.
#pragma once

#include <windows.h>

#include <string>

#include "app/jpeg_image.h"

class PreviewImage {
public:
  static constexpr const char* kClassName = "TImage";

  PreviewImage(HWND parent, int id, int left, int top, int width, int height);
  ~PreviewImage();
  PreviewImage(const PreviewImage&) = delete;
  PreviewImage& operator=(const PreviewImage&) = delete;

  HWND handle() const { return hwnd_; }
  // Loads the file; the format follows the extension (".jpg"/".jpeg" a JPEG
  // picture, anything else a Windows bitmap).  False with a reason when the
  // file cannot be read or decoded; the control then shows nothing.
  bool load(const std::string& path, std::string& error);
  bool hasPicture() const { return !image_.pixels.empty(); }

private:
  static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
  void paint(HDC dc);

  HWND hwnd_ = nullptr;
  DecodedImage image_;  // bitmaps are converted to the same 24-bit layout
};
