// The running program's path and terminal check on Windows.
#include "tools/saverpack/support.h"

#include <io.h>
#include <windows.h>

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

}  // namespace saverpack
