// Running whole installers in the end-to-end tests: building a package on
// the real stub, starting it (directly or through the launcher double),
// answering every dialog it shows while recording it, and reading back the
// launcher's reports and the machine's state afterwards.
//
// Everything the test observes of the running installer comes through its
// diagnostic trace (trace_listener.h): the window, each status text and
// progress position, each dialog.  Nothing is sampled, so nothing is missed
// on a busy machine, and a test acts at an exact point through a handler.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "package/package_writer.h"
#include "tests/win/support/folder_fixture.h"
#include "tests/win/support/trace_listener.h"
#include "tests/win/support/ui_driver.h"

namespace e2e {

// The stub the tests pack: the padded stub.exe of the test program's own
// build (x86_64 under wine64, the shipped i686 one under 32-bit Wine).
const std::vector<std::uint8_t>& stubBytes();
std::string fixturePath(const std::string& name);  // build/<win32|win64>/fixtures/<name>
// Carries the stand-in player installer under a name it fails by (it
// registers no control), as the package's player installer that runs.
bool carryBrokenPlayerInstaller(PackageBuilder& b);

struct LauncherReport {
  bool closed = false;   // the posted 0x501 rather than a WM_COPYDATA
  bool senderGiven = false;
  unsigned long cbData = 0;
  std::string bytes;     // cbData bytes, NULs included
};

struct RunResult {
  int exitCode = 0;
  bool timedOut = false;
  std::vector<ui::DialogRecord> dialogs;
  std::vector<LauncherReport> reports;  // only through the launcher
  std::vector<TraceEvent> events;        // everything the installer traced, in order
  std::vector<std::string> dialogTexts() const;
  // The status texts the window showed (consecutive repeats once), the
  // highest progress position, whether the installer window was shown.
  std::vector<std::string> statuses() const;
  int highestProgress() const;
  bool windowShown() const;
  // The result code of the install sequence's last run; nothing when it never ran.
  bool installEnded(int* result = nullptr) const;
};

struct RunOptions {
  std::vector<std::string> args;
  bool viaLauncher = false;
  ui::DialogRule answer = ui::answerWithFirstOf({IDOK, IDABORT, IDYES, IDCANCEL});
  DWORD timeoutMs = 60000;
  // Sees every traced event while the installer waits (see trace_listener.h
  // for what it may do); called before a dialog is answered.
  TraceHandler onEvent;
  // Every file operation as a "file" event too (kind, path, other path,
  // offset, bytes written), each answered by fileAnswer when given: 'k' lets
  // it go on, another byte fails it with that system error code.
  bool traceFiles = false;
  TraceAnswer fileAnswer;
  // Environment variables set for this start only (name, value).
  std::vector<std::pair<std::string, std::string>> environment;
};

// An installer started in the background; dialogs are answered by the rule
// while the test drives the window.
class InstallerSession {
public:
  InstallerSession(const std::string& path, const RunOptions& options);
  ~InstallerSession();
  InstallerSession(const InstallerSession&) = delete;
  InstallerSession& operator=(const InstallerSession&) = delete;

  bool started() const { return started_; }
  // The installer window once it is shown, or nullptr when the installer
  // ended without showing it (or the time is up).
  HWND waitForForm(DWORD timeoutMs = 30000) const;
  // Waits for the next "install end" event counted from the start; its result code.
  bool waitForInstallEnd(int* result = nullptr, DWORD timeoutMs = 30000) const;
  bool running() const { return runner_.running(); }
  // Ends the installer at once (TerminateProcess); from an event handler it
  // dies exactly at that event.
  void kill() {
    if (started_) runner_.kill();
  }
  // Waits for the end (killing it after the time limit) and collects everything.
  RunResult finish();

private:
  void onEvent(const TraceEvent& event);

  std::string path_, launcherLog_;
  RunOptions options_;
  ui::ProcessRunner runner_;
  ui::CriticalSection lock_;
  std::vector<ui::DialogRecord> dialogs_;
  std::unique_ptr<TraceListener> trace_;
  bool started_ = false;
};

// A control of the installer window by its id, found without sending the
// window a message (so also while the installer waits in a trace event).
HWND formControl(HWND form, int id);

// A handler that presses the installer window's Cancel once, at the first
// event `when` accepts: the click is posted while the installer waits in
// that event, so the pause after that step takes it up first.  *pressed
// says whether it was posted.
TraceHandler pressCancelAt(std::function<bool(const TraceEvent&)> when, bool* pressed);
// `when` for pressCancelAt: the progress bar reaching `step`, or a status text.
std::function<bool(const TraceEvent&)> atProgress(int step);
std::function<bool(const TraceEvent&)> atStatus(const std::string& text);

// Runs the installer at `path` to its end.
RunResult runInstaller(const std::string& path, const RunOptions& options);
std::vector<std::uint8_t> buildInstaller(const PackageBuilder& builder, bool trailer = true);

// The implode encoder as the writer's compression callback.
std::vector<std::uint8_t> implode(const std::vector<std::uint8_t>& data);

// The Wine machine's folders, as the installer finds them.
std::string systemFolder();   // ends with '\'
std::string commonFolder();   // ...\ProgramData\Brindlefax\ (ends with '\')
std::string localWorkBase();  // ...\AppData\Local\Brindlefax\ (ends with '\')
bool uninstallEntryExists(const std::string& saverName, HKEY root = HKEY_LOCAL_MACHINE);
std::string uninstallValue(const std::string& saverName, const std::string& value, HKEY root = HKEY_LOCAL_MACHINE);
// Removes every trace of an installed saver (system program, folder, entry).
void removeSaver(const std::string& saverName, const std::string& programName);
// Names of the numbered work folders ("ZNK1", ...) that exist now.
std::vector<std::string> workFolders();

// Saves a picture of the whole display to
// build/<win32|win64>/screenshots/<name> (tests/fixtures/screenshot.h);
// false when none was written.
bool screenshot(const std::string& name);

// Registers / removes the stand-in Shockwave Flash control for a test.
class FlashStandIn {
public:
  explicit FlashStandIn(const std::string& version = "WIN 10,0,45,2");
  ~FlashStandIn();
  FlashStandIn(const FlashStandIn&) = delete;
  FlashStandIn& operator=(const FlashStandIn&) = delete;
  std::string journal() const;
  void clearJournal() const;
};

// A test about installing one saver: the saver (its folder, its program in
// the system folder, its uninstall entry) is removed before and after the
// test, and the work folders that were there before are remembered.
class SaverTest : public FolderFixture {
protected:
  SaverTest(const char* saver, const char* program) : saver_(saver), program_(program) {}
  void SetUp() override;
  void TearDown() override;
  // Removes the saver; a test that leaves more behind removes that too.
  virtual void removeEverything();

  // The package written as an installer into the test's folder; its path.
  std::string installer(const PackageBuilder& b, const std::string& name = "Setup.exe");
  // Runs an installer quietly ("/q"), through the launcher double when asked.
  static RunResult runQuiet(const std::string& path, bool viaLauncher = false);
  std::string saverFolder() const { return commonFolder() + saver_ + "\\"; }
  std::string program() const { return systemFolder() + program_; }

  void expectNothingOfTheSaver() const;
  void expectWorkFolderGone() const;
  // The one work folder made since the test began ("" unless exactly one).
  std::string newWorkFolder() const;

  std::vector<std::string> workFoldersBefore_;

private:
  const char* saver_;
  const char* program_;
};

}  // namespace e2e
