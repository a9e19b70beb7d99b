// Which Windows functions a program called, read from Wine's relay trace.
//
// Wine set to report an older Windows still carries every function of the
// current ones: most W functions are stubs that fail on Windows 95, 98 and
// ME, yet under Wine a program that calls them works.  What the program
// called is the only evidence, and the relay trace records it (every call
// into Wine's libraries, with the caller's return address).
//
// Wine writes the trace to the standard error of the traced process, which
// it inherits from the test program.  So a trace can only be read when the
// test program's standard error goes to a file named by E2E_RELAY_LOG (a
// Unix path); scripts/test runs the Windows 98 and NT 4.0 suites that way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

class RelayTrace {
public:
  // Traces the programs started with environment() from now on; calls()
  // counts those made from the images of the named modules (file names in
  // UTF-8, such as "Setup.exe" or "impborl.dll").
  explicit RelayTrace(std::vector<std::string> modules);
  ~RelayTrace();
  RelayTrace(const RelayTrace&) = delete;
  RelayTrace& operator=(const RelayTrace&) = delete;

  // Whether this run writes a trace that can be read (E2E_RELAY_LOG is set).
  static bool available();
  // The variables a traced start needs.
  std::vector<std::pair<std::string, std::string>> environment() const;
  // "KERNEL32.CreateFileA" -> number of calls, made since construction by
  // code inside a named module of a traced process.
  std::map<std::string, int> calls() const;

private:
  std::vector<std::string> modules_;
  std::string log_;
  std::int64_t start_ = 0;
};

// Whether a function of that name is a W function (takes UTF-16 texts):
// its name ends in 'W' after a lower-case letter or a digit.
bool isWideFunction(const std::string& name);
// The W functions Windows 95, 98 and ME implement; every other one is a stub
// there that fails.
bool wideFunctionWorksOnWindows9x(const std::string& name);

}  // namespace e2e
