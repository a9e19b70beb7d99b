// Package names as bytes in a code page and the text they stand for: shared
// by the native tests (iconv's tables) and the Windows tests (the system's).
#pragma once

#include <optional>
#include <string>

struct CodePageCase {
  unsigned codePage;
  std::string bytes;
  std::optional<std::string> text;  // nullopt: not valid text in the code page
  const char* why;
};

inline const CodePageCase kCodePageCases[] = {
    {1252, "Plain.scr", "Plain.scr", "ASCII is itself"},
    {1252, "Caf\xE9 Cr\xE8me", "Caf\xC3\xA9 Cr\xC3\xA8me", "Latin letters"},
    {1252, "\x80 5", "\xE2\x82\xAC 5", "the euro sign of 0x80"},
    {1251, "\xC0\xEA\xE2\xE0\xF0\xE8\xF3\xEC", "\xD0\x90\xD0\xBA\xD0\xB2\xD0\xB0\xD1\x80\xD0\xB8\xD1\x83\xD0\xBC",
     "Cyrillic"},
    {1251, "\xA8\xB8", "\xD0\x81\xD1\x91", "Yo in both cases"},
    {932, "\x95\x5C\x8E\xA6", "\xE8\xA1\xA8\xE7\xA4\xBA", "second byte 0x5C is part of the character"},
    {932, "a\\\x95\x5C", "a\\\xE8\xA1\xA8", "a real backslash before a 0x5C trail byte"},
    {932, "\xB1\xB2", "\xEF\xBD\xB1\xEF\xBD\xB2", "half-width katakana are single bytes"},
    {932, "\x95", std::nullopt, "a lead byte followed by nothing"},
    {932, "abc\x95\x5C\x95", std::nullopt, "a name ending in a lead byte"},
    {932, "\x95\x20", std::nullopt, "a lead byte before a byte that cannot follow it"},
    {936, "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87", "simplified Chinese"},
    {936, "\xD6", std::nullopt, "a lone lead byte"},
    {949, "\xC7\xD1", "\xED\x95\x9C", "Korean"},
    {950, "\xA4\xA4", "\xE4\xB8\xAD", "traditional Chinese"},
};
