// The running program's path, terminal check and child processes on Windows.
#include "tools/saverpack/support.h"

#include <io.h>
#include <process.h>
#include <windows.h>

#include <cstdlib>

#include <vector>

namespace saverpack {

// GetModuleFileNameW returns the buffer size when the path was cut; retry
// with a larger buffer until it fits.
std::filesystem::path executablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::filesystem::path(std::wstring(buf.data(), n));
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// One argument quoted as the C runtime splits a command line.
std::wstring quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, L'\\');
  return out + L"\"";
}

}  // namespace

int runProgram(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  std::vector<std::wstring> quotedArgs;
  for (const std::string& a : args) quotedArgs.push_back(quoted(wide(a)));
  std::vector<const wchar_t*> argv;
  for (const std::wstring& a : quotedArgs) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  intptr_t code = _wspawnvp(_P_WAIT, wide(args[0]).c_str(), argv.data());
  return code < 0 ? -1 : static_cast<int>(code);
}

std::optional<std::string> environmentValue(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

}  // namespace saverpack
