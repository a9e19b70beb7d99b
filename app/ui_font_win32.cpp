#include "app/ui_font_win32.h"

#include "system/handles_win32.h"

HFONT installerFont() {
  // Lives for the whole process; released by the system at exit.
  static UniqueGdiObject font(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                          DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
  return static_cast<HFONT>(font.get() ? font.get() : GetStockObject(DEFAULT_GUI_FONT));
}
