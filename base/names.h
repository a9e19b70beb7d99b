// Rules for names taken from a package before they become file system paths
// or registry keys.  A hostile package must not be able to write outside the
// folder it names, reach a device, or make a name Windows silently alters
// (trailing dots and spaces are stripped by Win32, so "a.txt." and "a.txt"
// would be the same file).  Names are UTF-8 text (converted from the
// package's code page first); lengths count characters as Windows does
// (UTF-16 units), and text that is not valid UTF-8 is refused.
#pragma once

#include <string_view>

// A single file name: 1..255 chars; no '\\', '/', ':' or other character
// Windows forbids (<>"|?* and control chars 0-31); not "." or ".."; no
// trailing dot or space; not a device name (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM0-9, LPT0-9, also with an extension such as "NUL.txt", in any
// letter case).
bool isSafeItemFileName(std::string_view name);

// A path relative to a folder: 1..255 chars of backslash-separated
// components, each a safe file name.  Refuses a leading backslash (absolute
// or UNC paths), drive letters, forward slashes, empty, "." and ".."
// components.
bool isSafeEntryName(std::string_view name);

// A saver name: 1..64 chars usable both as a folder name and as the last
// component of a registry key path, and not of the form of a short (8.3)
// name, which could be another saver's ("SAMPLE~1" for "Sample Saver").
bool isValidSaverName(std::string_view name);
// "NAME~N" or "NAME~N.EXT" (N decimal digits), one dot at most.
bool looksLikeShortName(std::string_view name);

// Paths are compared as Windows compares names of the ASCII letters: in
// either case.
bool samePath(std::string_view a, std::string_view b);
// path is below folder (folder given with or without its trailing
// backslash), with no "." or ".." component, empty component, stream name
// or forward slash on the way.
bool isPlainPathBelow(std::string_view path, std::string_view folder);
