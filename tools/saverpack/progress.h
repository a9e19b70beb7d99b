// A one-line progress display on standard error for steps that take more
// than a moment: nothing appears during the first half second, then the
// line is redrawn at most ten times a second and erased when done.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/saverpack/support.h"

namespace saverpack {

class TerminalProgress {
 public:
  explicit TerminalProgress(bool enabled) : enabled_(enabled) {}
  ~TerminalProgress() { finish(); }
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  void update(const std::string& label, std::uint64_t done, std::uint64_t total);
  void finish();  // erases the line if one was drawn
  // A callback for the build and codec functions (empty when disabled).
  ProgressFn callback();

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool started_ = false;
  Clock::time_point start_, last_;
  std::size_t width_ = 0;  // characters of the line on screen
};

}  // namespace saverpack
