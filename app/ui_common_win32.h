// Shared pieces of the installer's windows: the font and window classes.
#pragma once

#include <windows.h>

// "MS Sans Serif", 8 point (height -11), ANSI.
HFONT installerFont();

// Registers a window class of this program on the button-face background,
// with the arrow cursor and, when withIcon, the main icon.
void registerWindowClass(const char* name, WNDPROC proc, bool withIcon);
