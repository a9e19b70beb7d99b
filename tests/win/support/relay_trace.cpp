// Calls read from Wine's relay trace (see relay_trace.h).
#include "tests/win/support/relay_trace.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "system/handles_win32.h"
#include "tests/win/support/folder_fixture.h"

namespace e2e {
namespace {

constexpr char kDebugKey[] = "Software\\Wine\\Debug";
constexpr char kFromInclude[] = "RelayFromInclude";

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// A text as Wine's debugstr_w prints it (between L" and "): backslash
// escapes, a backslash and four hexadecimal digits for what is not ASCII.
std::wstring unescapeWide(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += static_cast<unsigned char>(text[i]);
      continue;
    }
    if (i + 4 < text.size() && std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                           text.begin() + static_cast<std::ptrdiff_t>(i) + 5,
                                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
      out += static_cast<wchar_t>(std::strtoul(text.substr(i + 1, 4).c_str(), nullptr, 16));
      i += 4;
      continue;
    }
    char c = text[++i];
    {
      out += c == 'n' ? L'\n' : c == 'r' ? L'\r' : c == 't' ? L'\t' : static_cast<wchar_t>(c);
    }
  }
  return out;
}

std::string utf8Of(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// SizeOfImage from the file's PE header; 0 when it cannot be read.
std::uint32_t imageSize(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return 0;
  unsigned char head[4096] = {};
  DWORD got = 0;
  if (!ReadFile(file.get(), head, sizeof head, &got, nullptr)) return 0;
  auto le32 = [&](DWORD at) {
    return at + 4 <= got ? static_cast<std::uint32_t>(head[at] | head[at + 1] << 8 | head[at + 2] << 16 |
                                                      static_cast<std::uint32_t>(head[at + 3]) << 24)
                         : 0u;
  };
  DWORD pe = le32(0x3C);
  return le32(pe + 24 + 56);  // the optional header's SizeOfImage (PE32 and PE32+ alike)
}

std::string readFrom(const std::string& path, std::int64_t start) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  std::string out;
  if (!file) return out;
  LARGE_INTEGER at;
  at.QuadPart = start;
  if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return out;
  char buffer[1 << 16];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  return out;
}

}  // namespace

bool RelayTrace::available() {
  const char* log = std::getenv("E2E_RELAY_LOG");
  return log && *log;
}

RelayTrace::RelayTrace(std::vector<std::string> modules) : modules_(std::move(modules)) {
  if (!available()) return;
  // The desktop process is started by the first program that needs it and
  // would inherit the trace: it must be there before.
  GetDesktopWindow();
  log_ = winfs::hostPath(std::getenv("E2E_RELAY_LOG"));
  start_ = std::max<std::int64_t>(winfs::fileSize(log_), 0);
  // Calls through imports are traced from these modules only.
  std::string list;
  for (const std::string& m : modules_) list += (list.empty() ? "" : ";") + m;
  std::wstring wide(list.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(std::max(
      0, MultiByteToWideChar(CP_UTF8, 0, list.data(), static_cast<int>(list.size()), wide.data(), static_cast<int>(wide.size())))));
  UniqueRegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDebugKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) ==
      ERROR_SUCCESS)
    RegSetValueExW(key.get(), L"RelayFromInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

RelayTrace::~RelayTrace() {
  if (!available()) return;
  UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDebugKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
    RegDeleteValueA(key.get(), kFromInclude);
}

std::vector<std::pair<std::string, std::string>> RelayTrace::environment() const {
  if (!available()) return {};
  // +pid puts the process beside the thread on every line.
  return {{"WINEDEBUG", "-all,+pid,+relay,+loaddll"}};
}

std::map<std::string, int> RelayTrace::calls() const {
  std::map<std::string, int> counts;
  if (!available()) return counts;
  std::set<std::string> wanted;
  for (const std::string& m : modules_) wanted.insert(lowerAscii(m));
  struct Range {
    std::uint32_t begin, end;
  };
  std::map<std::string, std::vector<Range>> images;  // process id (hex text) -> the named modules' images

  const std::string text = readFrom(log_, start_);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    // "pppp:tttt:Call DLL.Function(...) ret=xxxxxxxx"
    std::size_t first = line.find(':');
    std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos || second > 20) continue;
    std::string pid(line.substr(0, first));
    std::string_view rest = line.substr(second + 1);
    if (rest.rfind("Call ", 0) == 0) {
      auto process = images.find(pid);
      std::size_t ret = rest.rfind(" ret=");
      std::size_t open = rest.find('(');
      if (process == images.end() || ret == std::string_view::npos || open == std::string_view::npos) continue;
      auto address = static_cast<std::uint32_t>(std::strtoul(std::string(rest.substr(ret + 5)).c_str(), nullptr, 16));
      for (const Range& r : process->second)
        if (address >= r.begin && address < r.end) {
          ++counts[std::string(rest.substr(5, open - 5))];
          break;
        }
    } else if (rest.rfind("trace:loaddll:build_module Loaded L\"", 0) == 0) {
      // ...Loaded L"<path>" at 00400000: native
      std::string_view loaded = rest.substr(36);
      std::size_t close = loaded.rfind("\" at ");
      if (close == std::string_view::npos) continue;
      std::wstring path = unescapeWide(std::string(loaded.substr(0, close)));
      std::wstring file = path.substr(path.find_last_of(L"\\/") + 1);
      if (!wanted.count(lowerAscii(utf8Of(file)))) continue;
      auto base = static_cast<std::uint32_t>(std::strtoul(std::string(loaded.substr(close + 5, 8)).c_str(), nullptr, 16));
      images[pid].push_back({base, base + imageSize(path)});
    }
  }
  return counts;
}

bool isWideFunction(const std::string& name) {
  if (name.size() < 2 || name.back() != 'W') return false;
  char before = name[name.size() - 2];
  return (before >= 'a' && before <= 'z') || (before >= '0' && before <= '9');
}

bool wideFunctionWorksOnWindows9x(const std::string& name) {
  // Microsoft's list of the wide functions Windows 95 implements (the rest
  // are exported stubs that fail with ERROR_CALL_NOT_IMPLEMENTED).
  static const std::set<std::string> implemented = {
      "EnumResourceLanguagesW", "EnumResourceNamesW", "EnumResourceTypesW", "ExtTextOutW",
      "FindResourceExW",        "FindResourceW",      "GetCharWidthW",      "GetCommandLineW",
      "GetTextExtentExPointW",  "GetTextExtentPoint32W", "GetTextExtentPointW", "lstrlenW",
      "MessageBoxExW",          "MessageBoxW",        "TextOutW"};
  return implemented.count(name.substr(name.find('.') + 1)) > 0;
}

}  // namespace e2e
