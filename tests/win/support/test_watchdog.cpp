// A test that runs far longer than any test should is named on standard
// error, with whether the desktop window still answers messages, and the
// program ends with exit code 3.  Under Wine a deadlocked desktop process
// blocks every program that asks for the desktop; without this the suite
// would sit silent until its outer time limit.  E2E_TEST_LIMIT_S sets the
// limit in seconds (default 1800).
//
// Standard output is a file under the test scripts, which the C run time
// fills in blocks: it is flushed after each test, so that a log read after
// a program ended early shows every test that finished, in order.  With
// E2E_PROGRESS_LOG naming a file, each test's start and end are written
// there at once ("start NAME", "end NAME"): where a program that ended
// without a word stood.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "system/handles_win32.h"

namespace {

DWORD testLimitMs() {
  const char* text = std::getenv("E2E_TEST_LIMIT_S");
  unsigned long seconds = text ? std::strtoul(text, nullptr, 10) : 0;
  return seconds > 0 && seconds < 86400 ? static_cast<DWORD>(seconds * 1000) : 1800 * 1000;
}

DWORD WINAPI probeDesktop(LPVOID) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(GetDesktopWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) ? 1 : 0;
}

// "answers", "does not answer": asked from a thread of its own, since a
// process whose desktop has hung can block in GetDesktopWindow itself.
const char* desktopState() {
  UniqueKernelHandle probe(CreateThread(nullptr, 0, probeDesktop, nullptr, 0, nullptr));
  if (!probe) return "could not be asked";
  if (WaitForSingleObject(probe.get(), 10000) != WAIT_OBJECT_0) return "does not answer";
  DWORD answered = 0;
  GetExitCodeThread(probe.get(), &answered);
  return answered ? "answers" : "does not answer";
}

class Watchdog : public testing::EmptyTestEventListener {
public:
  Watchdog() : limitMs_(testLimitMs()), wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    InitializeCriticalSection(&lock_);
    if (const char* path = std::getenv("E2E_PROGRESS_LOG")) progress_ = std::fopen(path, "w");
  }
  // The listener lives as long as the program (GoogleTest owns it); its
  // thread is never joined.
  void OnTestStart(const testing::TestInfo& info) override {
    EnterCriticalSection(&lock_);
    name_ = std::string(info.test_suite_name()) + "." + info.name();
    started_ = GetTickCount();
    running_ = true;
    LeaveCriticalSection(&lock_);
    note("start", info);
    if (!thread_) thread_.reset(CreateThread(nullptr, 0, watch, this, 0, nullptr));
    SetEvent(wake_.get());
  }
  void OnTestEnd(const testing::TestInfo& info) override {
    std::fflush(stdout);
    note("end", info);
    EnterCriticalSection(&lock_);
    running_ = false;
    LeaveCriticalSection(&lock_);
    SetEvent(wake_.get());
  }

private:
  void note(const char* what, const testing::TestInfo& info) {
    if (!progress_) return;
    std::fprintf(progress_, "%s %s.%s\n", what, info.test_suite_name(), info.name());
    std::fflush(progress_);
  }
  static DWORD WINAPI watch(LPVOID self) {
    static_cast<Watchdog*>(self)->run();
    return 0;
  }
  void run() {
    for (;;) {
      EnterCriticalSection(&lock_);
      bool running = running_;
      std::string name = name_;
      DWORD spent = GetTickCount() - started_;
      LeaveCriticalSection(&lock_);
      if (running && spent >= limitMs_) {
        std::fprintf(stderr, "win_tests: %s has run for %lu s, over the limit of %lu s; the desktop window %s\n",
                     name.c_str(), static_cast<unsigned long>(spent / 1000),
                     static_cast<unsigned long>(limitMs_ / 1000), desktopState());
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
      WaitForSingleObject(wake_.get(), running ? limitMs_ - spent : INFINITE);
    }
  }

  const DWORD limitMs_;
  UniqueKernelHandle wake_;
  UniqueKernelHandle thread_;
  CRITICAL_SECTION lock_;
  std::string name_;
  DWORD started_ = 0;
  bool running_ = false;
  std::FILE* progress_ = nullptr;  // closed when the program ends
};

// Installed before main() runs, so every test is watched.
const bool installed = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
  return true;
}();

}  // namespace
