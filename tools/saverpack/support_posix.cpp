// The running program's path and terminal check on Linux.
#include "tools/saverpack/support.h"

#include <unistd.h>

#include <system_error>

namespace saverpack {

std::filesystem::path executablePath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self;
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace saverpack
