#include "tools/sample-saver/saver_rules.h"

#include <cstdlib>

#include "base/names.h"

namespace {

wchar_t lowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool equalsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

bool endsWithIgnoringCase(std::wstring_view text, std::wstring_view tail) {
  return text.size() >= tail.size() && equalsIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The next blank-separated word of rest, which is advanced past it.
std::wstring_view nextWord(std::wstring_view& rest) {
  std::size_t start = 0;
  while (start < rest.size() && isBlank(rest[start])) ++start;
  std::size_t end = start;
  while (end < rest.size() && !isBlank(rest[end])) ++end;
  std::wstring_view word = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return word;
}

// A window handle as Windows passes it: decimal digits only, not 0, and
// small enough for a 64-bit handle.
bool parseWindow(std::wstring_view digits, std::uint64_t& window) {
  if (digits.empty() || digits.size() > 20) return false;
  std::uint64_t value = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    std::uint64_t digit = static_cast<std::uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (value == 0) return false;
  window = value;
  return true;
}

SaverCommand invalid() { return SaverCommand{SaverMode::Invalid, 0, false}; }

}  // namespace

std::wstring_view argumentsOf(std::wstring_view commandLine, std::wstring_view programPath) {
  std::size_t i = 0;
  while (i < commandLine.size() && isBlank(commandLine[i])) ++i;
  std::wstring_view line = commandLine.substr(i);
  auto endsWord = [&](std::size_t at) { return at == line.size() || isBlank(line[at]); };
  if (!line.empty() && line[0] == L'"') {
    std::size_t close = line.find(L'"', 1);
    if (close == std::wstring_view::npos) return {};
    std::size_t end = close + 1;
    while (end < line.size() && !isBlank(line[end])) ++end;  // "C:\x"y.scr as Windows reads it
    return line.substr(end);
  }
  if (!programPath.empty() && line.size() >= programPath.size() &&
      equalsIgnoringCase(line.substr(0, programPath.size()), programPath) && endsWord(programPath.size()))
    return line.substr(programPath.size());
  for (std::size_t at = 0; at + 4 <= line.size(); ++at)
    if (equalsIgnoringCase(line.substr(at, 4), L".scr") && endsWord(at + 4)) return line.substr(at + 4);
  std::size_t end = 0;
  while (end < line.size() && !isBlank(line[end])) ++end;
  return line.substr(end);
}

SaverCommand parseSaverArguments(std::wstring_view arguments) {
  std::wstring_view rest = arguments;
  std::wstring_view word = nextWord(rest);
  if (word.empty()) return SaverCommand{};
  if (word.size() < 2 || (word[0] != L'/' && word[0] != L'-')) return invalid();

  wchar_t letter = lowerAscii(word[1]);
  std::wstring_view value;  // what follows "/x:"
  bool hasColon = word.size() > 2 && word[2] == L':';
  if (hasColon) value = word.substr(3);
  else if (word.size() > 2) return invalid();  // "/sx"

  SaverCommand command;
  switch (letter) {
    case L's':
      if (hasColon) return invalid();
      command.mode = SaverMode::Show;
      break;
    case L'p':
      command.mode = SaverMode::Preview;
      if (!hasColon) value = nextWord(rest);
      if (!parseWindow(value, command.window)) return invalid();
      break;
    case L'c':
      command.mode = SaverMode::Settings;
      if (!hasColon) value = nextWord(rest);  // "/c 1234" from some callers; the window is optional
      if (!value.empty() || hasColon)
        if (!parseWindow(value, command.window)) return invalid();
      break;
    case L'u': {
      if (hasColon) return invalid();
      command.mode = SaverMode::Uninstall;
      std::wstring_view option = nextWord(rest);
      if (!option.empty()) {
        if (!equalsIgnoringCase(option, L"/q") && !equalsIgnoringCase(option, L"-q")) return invalid();
        command.quiet = true;
      }
      break;
    }
    default:
      return invalid();
  }
  // Windows passes nothing more; anything else is a mistake worth saying.
  if (!nextWord(rest).empty()) return invalid();
  return command;
}

std::wstring saverNameFromProgramPath(std::wstring_view programPath) {
  std::size_t slash = programPath.find_last_of(L"\\/:");
  std::wstring_view file = slash == std::wstring_view::npos ? programPath : programPath.substr(slash + 1);
  if (!endsWithIgnoringCase(file, L".scr")) return {};
  return std::wstring(file.substr(0, file.size() - 4));
}

std::string toUtf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      // UTF-16: join a surrogate pair, replace a lone half.
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool isSafeSaverName(std::wstring_view name) {
  // The installer's limit counts characters; the component rule only looks
  // at ASCII, so the UTF-8 form answers it for every letter.
  return !name.empty() && name.size() <= 64 && isSafeItemFileName(toUtf8(name));
}

std::wstring saverFolderPath(std::wstring_view commonAppData, std::wstring_view name) {
  std::wstring folder(commonAppData);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder + L"Brindlefax\\" + std::wstring(name) + L"\\";
}

std::wstring uninstallKeyPath(std::wstring_view name) {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::wstring(name);
}

bool isOwnUninstallString(std::wstring_view value, std::wstring_view name) {
  if (!endsWithIgnoringCase(value, L" /u")) return false;
  std::wstring_view program = value.substr(0, value.size() - 3);
  if (program.size() >= 2 && program.front() == L'"' && program.back() == L'"')
    program = program.substr(1, program.size() - 2);
  std::size_t slash = program.find_last_of(L'\\');
  if (slash == std::wstring_view::npos) return false;  // always a full path
  std::wstring_view file = program.substr(slash + 1);
  if (!endsWithIgnoringCase(file, L".scr")) return false;
  std::wstring_view base = file.substr(0, file.size() - 4);
  return equalsIgnoringCase(base, name) || (base.size() <= 8 && base.find(L'~') != std::wstring_view::npos);
}

bool mouseMovedEnough(int startX, int startY, int x, int y) {
  return std::abs(x - startX) > kMouseSlackPixels || std::abs(y - startY) > kMouseSlackPixels;
}
