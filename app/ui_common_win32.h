// Shared pieces of the installer's windows: the font, window classes and
// the hourglass.
#pragma once

#include <windows.h>

// "MS Sans Serif", 8 point (height -11), ANSI.
HFONT installerFont();

// Registers a window class of this program on the button-face background,
// with the arrow cursor and, when withIcon, the main icon.
void registerWindowClass(const char* name, WNDPROC proc, bool withIcon);

// Shows the hourglass while it lives, and restores the cursor it replaced.
// The class cursor (the arrow) would come back at the next mouse move, so
// the installer's windows answer WM_SETCURSOR through keepBusyCursor.
// Nested uses keep the hourglass until the outermost ends.
class BusyCursor {
public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

private:
  HCURSOR old_;
};

// For window procedures: on WM_SETCURSOR while a BusyCursor lives, sets the
// hourglass and returns true (answer TRUE); false otherwise.  Child windows
// ask their parent first, so the top-level windows' procedures suffice.
bool keepBusyCursor(UINT msg);
