// The installer's log, asked for with "/log=<path>": while an InstallLog
// lives, every event of the diagnostic trace is appended to the file as one
// UTF-8 line (system/install_log.h).  A log that cannot be opened is no
// failure: the run goes on without one, and nothing else is written.
#pragma once

#include <string>

class InstallLog {
public:
  // An empty path: no log.
  explicit InstallLog(const std::string& path);
  ~InstallLog();
  InstallLog(const InstallLog&) = delete;
  InstallLog& operator=(const InstallLog&) = delete;

  bool open() const;
};
