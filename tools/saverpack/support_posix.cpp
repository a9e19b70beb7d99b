// The running program's path, terminal check and child processes on Linux.
#include "tools/saverpack/support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace saverpack {

std::filesystem::path executablePath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self;
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int runProgram(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  if (!WIFEXITED(status)) return -1;
  int code = WEXITSTATUS(status);
  return code == 127 ? -1 : code;
}

std::optional<std::string> environmentValue(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

}  // namespace saverpack
