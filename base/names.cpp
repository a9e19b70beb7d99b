// Name rules for stored item names, data file entry names and saver names.
#include "base/names.h"

#include "base/code_page.h"

#include <cstddef>

namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxSaverNameLength = 64;

bool isForbiddenChar(unsigned char c) {
  if (c < 32) return true;
  switch (c) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
  return true;
}

// Win32 maps a device name to the device whatever extension follows it, and
// ignores spaces before the dot ("nul .txt" is NUL as well).
bool isReservedDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (equalsNoCase(base, device)) return true;
  if (base.size() != 4 && base.size() != 5) return false;
  std::string_view prefix = base.substr(0, 3);
  if (!equalsNoCase(prefix, "COM") && !equalsNoCase(prefix, "LPT")) return false;
  std::string_view digit = base.substr(3);
  // Superscript 1, 2 and 3 (of the Western code page) count as digits here too.
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
         digit == "\xC2\xB3";
}

}  // namespace

bool isSafeItemFileName(std::string_view name) {
  if (name.empty() || !isValidUtf8(name) || utf16Length(name) > kMaxNameLength) return false;
  for (char c : name)
    if (isForbiddenChar(static_cast<unsigned char>(c))) return false;
  if (name == "." || name == "..") return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  return !isReservedDeviceName(name);
}

bool isSafeEntryName(std::string_view name) {
  if (name.empty() || !isValidUtf8(name) || utf16Length(name) > kMaxNameLength) return false;
  // Splitting on every backslash also refuses "\x", "\\server\share",
  // "a\\b" and "a\" through their empty components.
  std::size_t start = 0;
  while (true) {
    std::size_t end = name.find('\\', start);
    std::string_view component = name.substr(start, end == std::string_view::npos ? end : end - start);
    if (!isSafeItemFileName(component)) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool looksLikeShortName(std::string_view name) {
  // BASE~N or BASE~N.EXT: the form of the short (8.3) names Windows gives
  // longer names.
  std::size_t dot = name.find('.');
  if (dot != std::string_view::npos && name.find('.', dot + 1) != std::string_view::npos) return false;
  std::string_view base = name.substr(0, dot);
  std::size_t tilde = base.rfind('~');
  if (tilde == std::string_view::npos || tilde + 1 == base.size()) return false;
  for (char c : base.substr(tilde + 1))
    if (c < '0' || c > '9') return false;
  return true;
}

bool isValidSaverName(std::string_view name) {
  // A saver named like another one's short name ("SAMPLE~1") would reach
  // that saver's folder and program.
  return isSafeItemFileName(name) && utf16Length(name) <= kMaxSaverNameLength && !looksLikeShortName(name);
}

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string_view withoutTrailingBackslash(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

}  // namespace

bool samePath(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

bool isPlainPathBelow(std::string_view path, std::string_view folder) {
  folder = withoutTrailingBackslash(folder);
  if (folder.empty() || path.size() <= folder.size() + 1) return false;
  if (!samePath(path.substr(0, folder.size()), folder) || path[folder.size()] != '\\') return false;
  std::string_view rest = path.substr(folder.size() + 1);
  if (rest.find_first_of(":/") != std::string_view::npos) return false;
  for (std::size_t start = 0;;) {
    std::size_t cut = rest.find('\\', start);
    std::string_view part = rest.substr(start, cut == std::string_view::npos ? cut : cut - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (cut == std::string_view::npos) return true;
    start = cut + 1;
  }
}

