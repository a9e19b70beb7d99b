// The installer's font: "MS Sans Serif", 8 point (height -11), ANSI.
#pragma once

#include <windows.h>

HFONT installerFont();
