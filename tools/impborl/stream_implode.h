// The implode library's encoder: a small streaming one, built without the
// C++ runtime (no exceptions, no containers) so the library stays small.
// It reads through a 64 KiB window (the dictionary's history plus
// lookahead), finds matches of 3 to 518 bytes on hash chains and takes them
// greedily when they cost fewer bits than the literals they replace.  The
// packager's own encoder (tools/implode) compresses better; both write the
// format of package/explode.h.
#pragma once

#include "package/explode.h"

enum class StreamImplodeResult { Ok, OutOfMemory };

// Compresses everything read returns (until it returns 0) into one implode
// stream: literal mode 1 if ascii, dictionary code dictCode (4, 5 or 6).
// The stream goes out through write in blocks of at most
// kStreamImplodeBlock bytes, never empty ones.
constexpr unsigned kStreamImplodeBlock = 8192;
StreamImplodeResult streamImplode(ExplodeReadFn read, ExplodeWriteFn write, void* param, bool ascii,
                                  unsigned dictCode);
