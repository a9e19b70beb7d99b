// Text in an ANSI code page and UTF-8.  Inside the program every text is
// UTF-8; package names are stored as bytes in the ANSI code page of the
// machine that installs them, and the launcher and a few stored names keep
// the code page's bytes.  Single-byte code pages (1250, 1251, 1252, ...) and
// the double-byte ones (932, 936, 949, 950) are known.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The code page that ANSI text of this machine is in: GetACP on Windows,
// 1252 natively.
unsigned machineCodePage();

// A lead byte of a double-byte character in that code page (never in a
// single-byte code page).
bool isLeadByte(unsigned codePage, unsigned char byte);

// Bytes in the code page as UTF-8; nullopt when they are not valid text in
// it: a lead byte at the end or before a byte that cannot follow it, or a
// byte the code page does not define.
std::optional<std::string> ansiToUtf8(std::string_view bytes, unsigned codePage);

// UTF-8 as bytes in the code page; nullopt when the text is not valid UTF-8
// or holds a character the code page lacks (no look-alike replacements).
std::optional<std::string> utf8ToAnsi(std::string_view text, unsigned codePage);

// The same, with '?' for each character the code page lacks, as the ANSI
// functions of Windows report such names.
std::string utf8ToAnsiLossy(std::string_view text, unsigned codePage);

// UTF-8 and UTF-16.  Invalid UTF-8 sequences become U+FFFD; an unpaired
// surrogate becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
// Strict UTF-8 check (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view text);

// The number of UTF-16 units of the UTF-8 text: what Windows counts when it
// limits a name's length.
std::size_t utf16Length(std::string_view text);
