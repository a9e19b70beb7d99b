// Terminal progress line.
#include "tools/saverpack/progress.h"

#include <algorithm>
#include <cstdio>

namespace saverpack {

namespace {
constexpr auto kQuietPeriod = std::chrono::milliseconds(500);
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kMaxLabel = 48;
}  // namespace

void TerminalProgress::update(const std::string& label, std::uint64_t done, std::uint64_t total) {
  if (!enabled_) return;
  Clock::time_point now = Clock::now();
  if (!started_) {
    started_ = true;
    start_ = now;
  }
  if (now - start_ < kQuietPeriod || (width_ > 0 && now - last_ < kRedrawInterval)) return;
  last_ = now;
  std::string shown = label.size() > kMaxLabel ? "..." + label.substr(label.size() - kMaxLabel + 3) : label;
  unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100;
  char text[160];
  int n = std::snprintf(text, sizeof text, "saverpack: %-*s %3u%% (%.1f of %.1f MiB)", static_cast<int>(kMaxLabel),
                        shown.c_str(), percent, static_cast<double>(done) / 1048576.0,
                        static_cast<double>(total) / 1048576.0);
  std::size_t len = n > 0 ? static_cast<std::size_t>(n) : 0;
  std::fprintf(stderr, "\r%s%*s", text, static_cast<int>(width_ > len ? width_ - len : 0), "");
  std::fflush(stderr);
  width_ = std::max(width_, len);
}

void TerminalProgress::finish() {
  if (width_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(stderr);
  width_ = 0;
}

ProgressFn TerminalProgress::callback() {
  if (!enabled_) return {};
  return [this](const std::string& label, std::uint64_t done, std::uint64_t total) { update(label, done, total); };
}

}  // namespace saverpack
