// The platform's tables of the code pages, behind base/code_page.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Bytes (already checked for well-formed double-byte pairs) to UTF-16;
// nullopt for a byte the code page does not define.
std::optional<std::u16string> platformAnsiToUtf16(std::string_view bytes, unsigned codePage);
// UTF-16 to bytes; without `lossy` nullopt for a character the code page
// lacks, with it '?' in its place.
std::optional<std::string> platformUtf16ToAnsi(std::u16string_view text, unsigned codePage, bool lossy);
