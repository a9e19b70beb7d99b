// The saver's pictures: full screen, in a preview window, and the settings
// box.  The picture is the first of "picture.jpg" and "picture.bmp" found in
// the saver's folder; without one the saver's name is shown instead.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/jpeg_image.h"
#include "system/handles_win32.h"
#include "tools/sample-saver/saver_rules.h"
#include "tools/sample-saver/saver_system_win32.h"
#include "tools/sample-saver/saver_win32.h"

namespace {

// The window functions are the A ones, which every Windows has (the W ones
// are stubs on Windows 9x); the texts it shows are drawn with TextOutW,
// which Windows 9x implements too.
constexpr char kWindowClass[] = "SampleSaverWindow";
constexpr UINT_PTR kMoveTimer = 1;
constexpr UINT kMoveIntervalMs = 50;
constexpr DWORD kMaxPictureBytes = 32u << 20;

std::vector<std::uint8_t> readWholeFile(const std::wstring& path) {
  UniqueFile file(saverOpenForReading(path));
  if (!file) return {};
  DWORD high = 0;
  DWORD size = GetFileSize(file.get(), &high);
  if (size == INVALID_FILE_SIZE || high != 0 || size == 0 || size > kMaxPictureBytes) return {};
  std::vector<std::uint8_t> data(size);
  DWORD got = 0;
  if (!ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr) || got != data.size())
    return {};
  return data;
}

HBITMAP bitmapFromJpeg(const std::wstring& path) {
  std::vector<std::uint8_t> data = readWholeFile(path);
  DecodedImage image;
  std::string error;
  if (data.empty() || !decodeJpeg(data.data(), data.size(), image, error)) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = image.height;  // bottom-up, as decoded
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) std::copy(image.pixels.begin(), image.pixels.end(), static_cast<std::uint8_t*>(bits));
  return bitmap;
}

HBITMAP loadPicture(const SaverContext& context) {
  if (context.folder.empty()) return nullptr;
  if (HBITMAP jpeg = bitmapFromJpeg(context.folder + L"picture.jpg")) return jpeg;
  return saverLoadBitmapFile(context.folder + L"picture.bmp");
}

// Everything one saver window needs; lives on the run function's stack and
// is reached through GWLP_USERDATA.
struct SaverView {
  std::wstring text;
  UniqueGdiObject picture;
  SIZE pictureSize{};
  bool fullScreen = false;
  // Where the picture (or text) sits, and where it drifts to.
  RECT box{};
  int dx = 2, dy = 2;
  bool mouseSeen = false;
  POINT mouseStart{};
};

// The largest size of the picture that fits in a share of the area, kept in
// proportion.
SIZE fitted(SIZE picture, int width, int height, int percent) {
  int maxW = std::max(1, width * percent / 100), maxH = std::max(1, height * percent / 100);
  if (picture.cx <= 0 || picture.cy <= 0) return SIZE{maxW, maxH / 4 + 1};
  double scale = std::min(double(maxW) / picture.cx, double(maxH) / picture.cy);
  return SIZE{std::max(1, int(picture.cx * scale)), std::max(1, int(picture.cy * scale))};
}

void placeBox(HWND window, SaverView& view) {
  RECT client{};
  GetClientRect(window, &client);
  SIZE size = fitted(view.pictureSize, client.right, client.bottom, view.fullScreen ? 60 : 90);
  int x = (client.right - size.cx) / 2, y = (client.bottom - size.cy) / 2;
  view.box = RECT{x, y, x + size.cx, y + size.cy};
}

void drift(HWND window, SaverView& view) {
  RECT client{};
  GetClientRect(window, &client);
  RECT old = view.box;
  if (view.box.left + view.dx < 0 || view.box.right + view.dx > client.right) view.dx = -view.dx;
  if (view.box.top + view.dy < 0 || view.box.bottom + view.dy > client.bottom) view.dy = -view.dy;
  OffsetRect(&view.box, view.dx, view.dy);
  RECT both{};
  UnionRect(&both, &old, &view.box);
  InvalidateRect(window, &both, FALSE);
}

// A memory device context with one bitmap selected into it for its life.
class MemoryDc {
public:
  MemoryDc(HDC like, HGDIOBJ bitmap) : dc_(CreateCompatibleDC(like)) {
    if (dc_) old_ = SelectObject(dc_, bitmap);
  }
  ~MemoryDc() {
    if (!dc_) return;
    SelectObject(dc_, old_);
    DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }

private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

void drawContent(HDC dc, const SaverView& view, const RECT& area) {
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (view.picture) {
    MemoryDc source(dc, view.picture.get());
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, view.box.left, view.box.top, view.box.right - view.box.left, view.box.bottom - view.box.top,
               source.get(), 0, 0, view.pictureSize.cx, view.pictureSize.cy, SRCCOPY);
    return;
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0x2a, 0x9d, 0x8f));
  int length = static_cast<int>(view.text.size());
  SIZE extent{};
  GetTextExtentPoint32W(dc, view.text.c_str(), length, &extent);
  TextOutW(dc, (view.box.left + view.box.right - extent.cx) / 2, (view.box.top + view.box.bottom - extent.cy) / 2,
           view.text.c_str(), length);
}

// Paints through an off-screen bitmap of the dirty area, so the drifting
// picture does not flicker.
void paint(HWND window, const SaverView& view) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  const RECT& dirty = ps.rcPaint;
  int w = dirty.right - dirty.left, h = dirty.bottom - dirty.top;
  UniqueGdiObject bitmap(w > 0 && h > 0 ? CreateCompatibleBitmap(dc, w, h) : nullptr);
  MemoryDc buffer(dc, bitmap.get());
  if (bitmap && buffer.get()) {
    SetViewportOrgEx(buffer.get(), -dirty.left, -dirty.top, nullptr);
    drawContent(buffer.get(), view, dirty);
    SetViewportOrgEx(buffer.get(), 0, 0, nullptr);
    BitBlt(dc, dirty.left, dirty.top, w, h, buffer.get(), 0, 0, SRCCOPY);
  } else {
    drawContent(dc, view, dirty);
  }
  EndPaint(window, &ps);
}

// Full screen, any key, click or real mouse movement ends the show.
bool endsTheShow(HWND window, SaverView& view, UINT message, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN:
      return true;
    case WM_MOUSEMOVE: {
      POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ClientToScreen(window, &at);
      if (!view.mouseSeen) {
        view.mouseSeen = true;
        view.mouseStart = at;
        return false;
      }
      return mouseMovedEnough(view.mouseStart.x, view.mouseStart.y, at.x, at.y);
    }
    default:
      return false;
  }
}

LRESULT CALLBACK saverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* view = reinterpret_cast<SaverView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    view = static_cast<SaverView*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  if (!view) return DefWindowProcA(window, message, wParam, lParam);
  if (view->fullScreen && endsTheShow(window, *view, message, lParam)) {
    DestroyWindow(window);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      placeBox(window, *view);
      SetTimer(window, kMoveTimer, kMoveIntervalMs, nullptr);
      return 0;
    case WM_SIZE:
      placeBox(window, *view);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_TIMER:
      if (wParam == kMoveTimer) drift(window, *view);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT:
      paint(window, *view);
      return 0;
    case WM_SETCURSOR:
      if (view->fullScreen) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_SYSCOMMAND:
      // No second saver, no power-saving blank while this one runs.
      if (view->fullScreen && ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER)) return 0;
      break;
    case WM_DESTROY:
      KillTimer(window, kMoveTimer);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = saverWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void loadInto(SaverView& view, const SaverContext& context) {
  view.text = shownName(context);
  view.picture.reset(loadPicture(context));
  BITMAP info{};
  if (view.picture && GetObjectA(view.picture.get(), sizeof(info), &info)) view.pictureSize = SIZE{info.bmWidth, info.bmHeight};
}

int messageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace

int runFullScreen(HINSTANCE instance, const SaverContext& context) {
  if (!registerClass(instance)) return static_cast<int>(GetLastError());
  SaverView view;
  view.fullScreen = true;
  loadInto(view, context);
  int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (w <= 0 || h <= 0) {  // before Windows 98 there are no virtual-screen metrics
    x = y = 0;
    w = GetSystemMetrics(SM_CXSCREEN);
    h = GetSystemMetrics(SM_CYSCREEN);
  }
  HWND window = CreateWindowExA(WS_EX_TOPMOST, kWindowClass, ansiText(shownName(context)).c_str(),
                                WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr, nullptr, instance, &view);
  if (!window) return static_cast<int>(GetLastError());
  SetForegroundWindow(window);
  SetFocus(window);
  return messageLoop();
}

int runPreview(HINSTANCE instance, const SaverContext& context, HWND parent) {
  if (!IsWindow(parent)) return errSaverNoWindow;
  if (!registerClass(instance)) return static_cast<int>(GetLastError());
  SaverView view;
  loadInto(view, context);
  RECT area{};
  GetClientRect(parent, &area);
  // The preview ends with its parent: destroying the parent destroys it.
  // The parent belongs to another program, which need not answer
  // WM_PARENTNOTIFY while it waits for this one.
  HWND window = CreateWindowExA(WS_EX_NOPARENTNOTIFY, kWindowClass, "", WS_CHILD | WS_VISIBLE, 0, 0, area.right,
                                area.bottom, parent, nullptr, instance, &view);
  if (!window) return static_cast<int>(GetLastError());
  return messageLoop();
}

int runSettings(const SaverContext& context, HWND owner) {
  if (owner && !IsWindow(owner)) owner = nullptr;
  std::wstring text = shownName(context) + L"\r\n\r\nThis sample screen saver has no settings to change. ";
  if (context.folder.empty())
    text += L"Installed as a screen saver, it shows the picture from its folder.";
  else
    text += L"It shows the picture (picture.jpg or picture.bmp) from its folder:\r\n" + context.folder;
  MessageBoxW(owner, text.c_str(), (shownName(context) + L" Settings").c_str(), MB_OK | MB_ICONINFORMATION);
  return 0;
}
