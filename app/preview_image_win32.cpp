#include "app/preview_image_win32.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "system/file_stream_win32.h"
#include "app/ui_common_win32.h"
#include "system/handles_win32.h"
#include "system/win_text_win32.h"

namespace {

constexpr std::uint64_t kMaxPictureFile = 64ull * 1024 * 1024;

bool hasJpegExtension(const std::string& path) {
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(c | 0x20); });
  return ext == ".jpg" || ext == ".jpeg";
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  FileStream file;
  std::uint64_t size = 0;
  ErrorCode e = file.openRead(path);
  if (e == errOk) e = file.size(size);
  if (e == errOk && size > kMaxPictureFile) {
    error = "picture file too large";
    return false;
  }
  if (e == errOk) {
    bytes.resize(static_cast<std::size_t>(size));
    e = file.readExact(bytes.data(), bytes.size());
  }
  if (e != errOk) error = "cannot read the file (error " + std::to_string(e) + ")";
  return e == errOk;
}

// The header of our 24-bit bottom-up pixel layout.
BITMAPINFO dibInfo(const DecodedImage& image) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = image.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

// Converts a bitmap the system loaded into our 24-bit bottom-up layout.
bool bitmapToImage(HBITMAP bitmap, DecodedImage& image) {
  BITMAP bm;
  if (!GetObjectA(bitmap, sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0) return false;
  image.width = bm.bmWidth;
  image.height = bm.bmHeight;
  image.pixels.assign(static_cast<std::size_t>(image.stride()) * image.height, 0);
  BITMAPINFO info = dibInfo(image);
  HDC dc = GetDC(nullptr);
  int lines = GetDIBits(dc, bitmap, 0, static_cast<UINT>(image.height), image.pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  return lines == image.height;
}

}  // namespace

PreviewImage::PreviewImage(HWND parent, int id, int left, int top, int width, int height) {
  registerWindowClass(kClassName, windowProc, false);
  hwnd_ = CreateWindowExA(0, kClassName, "", WS_CHILD | WS_CLIPSIBLINGS, left, top, width, height, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), this);
}

PreviewImage::~PreviewImage() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

LRESULT CALLBACK PreviewImage::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<PreviewImage*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self && msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    self->paint(dc);
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;  // paint() covers everything
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void PreviewImage::paint(HDC dc) {
  RECT r;
  GetClientRect(hwnd_, &r);
  if (image_.pixels.empty()) {
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  BITMAPINFO info = dibInfo(image_);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, 0, 0, r.right, r.bottom, 0, 0, image_.width, image_.height, image_.pixels.data(), &info,
                DIB_RGB_COLORS, SRCCOPY);
}

bool PreviewImage::load(const std::string& path, std::string& error) {
  image_ = DecodedImage{};
  bool ok = false;
  if (hasJpegExtension(path)) {
    std::vector<std::uint8_t> bytes;
    ok = readWholeFile(path, bytes, error) && decodeJpeg(bytes.data(), bytes.size(), image_, error);
  } else {
    UniqueGdiObject bitmap(winLoadImageFile(path, IMAGE_BITMAP, LR_CREATEDIBSECTION));
    ok = bitmap && bitmapToImage(static_cast<HBITMAP>(bitmap.get()), image_);
    if (!ok) error = "not a readable bitmap";
  }
  if (!ok) image_ = DecodedImage{};
  InvalidateRect(hwnd_, nullptr, FALSE);
  return ok;
}
