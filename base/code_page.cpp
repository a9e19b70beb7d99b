// Code page rules that do not depend on the platform, and UTF-8/UTF-16
// (declared in base/code_page.h).  The byte-to-character tables are the
// platform's: base/code_page_system.cpp.
#include "base/code_page.h"

#include "base/code_page_platform.h"

namespace {

struct DoubleByteRules {
  unsigned codePage;
  unsigned char leadRanges[2][2];   // inclusive; an unused range is {0, 0}
  unsigned char trailRanges[3][2];
};

constexpr DoubleByteRules kDoubleByte[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}, {0, 0}}},
    {936, {{0x81, 0xFE}, {0, 0}}, {{0x40, 0x7E}, {0x80, 0xFE}, {0, 0}}},
    {949, {{0x81, 0xFE}, {0, 0}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
    {950, {{0x81, 0xFE}, {0, 0}}, {{0x40, 0x7E}, {0xA1, 0xFE}, {0, 0}}},
};

const DoubleByteRules* doubleByteRules(unsigned codePage) {
  for (const DoubleByteRules& r : kDoubleByte)
    if (r.codePage == codePage) return &r;
  return nullptr;
}

template <std::size_t N>
bool inRanges(const unsigned char (&ranges)[N][2], unsigned char b) {
  for (const auto& r : ranges)
    if (r[1] != 0 && b >= r[0] && b <= r[1]) return true;
  return false;
}

// Every lead byte has a trail byte that may follow it.  The platform tables
// are not trusted with this: some map a lone lead byte to a default
// character instead of refusing it.
bool wellFormed(std::string_view bytes, unsigned codePage) {
  const DoubleByteRules* rules = doubleByteRules(codePage);
  if (!rules) return true;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (!inRanges(rules->leadRanges, b)) continue;
    if (i + 1 >= bytes.size() || !inRanges(rules->trailRanges, static_cast<unsigned char>(bytes[i + 1])))
      return false;
    ++i;
  }
  return true;
}

constexpr char32_t kReplacement = 0xFFFD;

// One code point from UTF-8 at text[i], advancing i; nullopt for an invalid
// sequence (i then moves past its first byte).
std::optional<char32_t> nextCodePoint(std::string_view text, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(text[i++]);
  if (b0 < 0x80) return b0;
  int extra;
  char32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    return std::nullopt;
  }
  std::size_t j = i;
  for (int k = 0; k < extra; ++k, ++j) {
    if (j >= text.size()) return std::nullopt;
    auto b = static_cast<unsigned char>(text[j]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3F);
  }
  bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  i = j;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool isLeadByte(unsigned codePage, unsigned char byte) {
  const DoubleByteRules* rules = doubleByteRules(codePage);
  return rules && inRanges(rules->leadRanges, byte);
}

std::optional<std::string> ansiToUtf8(std::string_view bytes, unsigned codePage) {
  if (!wellFormed(bytes, codePage)) return std::nullopt;
  bool ascii = true;
  for (char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(bytes);
  std::optional<std::u16string> wide = platformAnsiToUtf16(bytes, codePage);
  if (!wide) return std::nullopt;
  return utf16ToUtf8(*wide);
}

std::optional<std::string> utf8ToAnsi(std::string_view text, unsigned codePage) {
  if (!isValidUtf8(text)) return std::nullopt;
  return platformUtf16ToAnsi(utf8ToUtf16(text), codePage, false);
}

std::string utf8ToAnsiLossy(std::string_view text, unsigned codePage) {
  std::optional<std::string> bytes = platformUtf16ToAnsi(utf8ToUtf16(text), codePage, true);
  return bytes ? *bytes : std::string();
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = nextCodePoint(text, i).value_or(kReplacement);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    appendUtf8(out, cp);
  }
  return out;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();)
    if (!nextCodePoint(text, i)) return false;
  return true;
}

std::size_t utf16Length(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) n += nextCodePoint(text, i).value_or(0) >= 0x10000 ? 2 : 1;
  return n;
}
