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

bool isValidSaverName(std::string_view name) {
  return isSafeItemFileName(name) && utf16Length(name) <= kMaxSaverNameLength;
}
