#include "app/ui_common_win32.h"

#include "resources/resource_ids.h"
#include "system/handles_win32.h"

HFONT installerFont() {
  // Lives for the whole process; released by the system at exit.
  static UniqueGdiObject font(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                          DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
  return static_cast<HFONT>(font.get() ? font.get() : GetStockObject(DEFAULT_GUI_FONT));
}

void registerWindowClass(const char* name, WNDPROC proc, bool withIcon) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  if (withIcon) wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAINICON));
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = name;
  RegisterClassA(&wc);  // fails harmlessly when the class exists
}

namespace {
int busyCount = 0;  // GUI thread only
HCURSOR waitCursor() { return LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)); }
}  // namespace

BusyCursor::BusyCursor() : old_(SetCursor(waitCursor())) { ++busyCount; }

BusyCursor::~BusyCursor() {
  --busyCount;
  SetCursor(old_);
}

bool keepBusyCursor(UINT msg) {
  if (msg != WM_SETCURSOR || busyCount == 0) return false;
  SetCursor(waitCursor());
  return true;
}
