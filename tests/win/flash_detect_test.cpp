// Flash Player detection and installer runs, against the stand-in control and
// the stand-in installer.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/diagnostic_trace.h"
#include "base/process_state.h"
#include "base/names.h"
#include "flash/player_detect_win32.h"
#include "tests/win/support/flash_fixture.h"

namespace {

class FlashDetect : public FlashFixture {};

// Counts, by kind, the events the code under test traces in this process
// (the probe waits, the installer runs) while it lives.
class TracedEvents {
 public:
  TracedEvents() {
    counts_.clear();
    setTraceSink(&onEvent);
  }
  ~TracedEvents() { setTraceSink(nullptr); }
  TracedEvents(const TracedEvents&) = delete;
  TracedEvents& operator=(const TracedEvents&) = delete;
  int count(const std::string& kind) const { return counts_[kind]; }

 private:
  static void onEvent(const std::string& kind, const std::vector<std::string>&) { ++counts_[kind]; }
  static inline std::map<std::string, int> counts_;
};

enum class Registered { None, Versioned, NoVersion, MissingFile };

struct DetectRow {
  const char* name;
  Registered registered;
  const char* version;   // the stand-in's "$version" answer
  const char* failFlag;  // a stand-in failure setting, or nullptr
  // getFlashPlayerVersion(3):
  bool installed;
  std::int32_t major, revision;
  int probes;            // creation attempts it made
  // then getFlashPlayerVersionFromControl(3) with the cache cleared:
  ErrorCode controlResult;
  int controlProbes;
  bool cached;
};

const DetectRow kDetectRows[] = {
    {"versioned file", Registered::Versioned, "WIN 10,0,45,2", nullptr, true, 10, 45, 0, errOk, 1,
     true},
    {"file without version, control answers", Registered::NoVersion, "WIN 9,0,124,0", nullptr,
     true, 9, 124, 1, errOk, 1, true},
    {"quoted answer", Registered::NoVersion, "\"WIN\" 11,2,202,235", nullptr, true, 11, 202, 1,
     errOk, 1, true},
    // The control's failure outweighs the file: a player that cannot tell
    // its version is not installed.
    {"three tokens", Registered::NoVersion, "10,0,45", nullptr, false, 0, 0, 1,
     errFlashPlayerMissing, 1, false},
    {"GetVariable fails", Registered::NoVersion, "WIN 10,0,45,2", "FailGetVariable", false, 0, 0, 1,
     errFlashPlayerMissing, 1, false},
    {"creation fails", Registered::NoVersion, "WIN 10,0,45,2", "FailCreate", false, 0, 0, 3,
     errFlashPlayerMissing, 3, false},
    {"registered file missing", Registered::MissingFile, "WIN 10,0,45,2", nullptr, false, 0, 0, 0,
     errFlashPlayerMissing, 0, false},
    {"nothing registered", Registered::None, "WIN 10,0,45,2", nullptr, false, 0, 0, 0,
     errFlashPlayerMissing, 0, false},
};

TEST_F(FlashDetect, VersionFromFileThenControl) {
  for (const DetectRow& row : kDetectRows) {
    SCOPED_TRACE(row.name);
    processState().cachedFlashMajor = -1;
    processState().cachedFlashRevision = -1;
    unregisterControl();
    setFlag("FailGetVariable", false);
    setFlag("FailCreate", false);
    setSetting("Version", row.version);
    if (row.failFlag) setFlag(row.failFlag, true);
    if (row.registered == Registered::Versioned) registerControl(standinDll());
    if (row.registered == Registered::NoVersion) registerControl(standinDllNoVersion());
    if (row.registered == Registered::MissingFile) registerControl(workDir() + "gone.ocx");

    bool installed = !row.installed;
    std::int32_t major = -7, revision = -7;
    clearJournal();
    getFlashPlayerVersion(3, installed, major, revision);
    EXPECT_EQ(installed, row.installed);
    EXPECT_EQ(major, row.major);
    EXPECT_EQ(revision, row.revision);
    EXPECT_EQ(journalCount("create") + journalCount("create refused"), row.probes);
    EXPECT_EQ(processState().cachedFlashMajor != -1, row.cached && row.probes > 0);

    processState().cachedFlashMajor = -1;
    clearJournal();
    EXPECT_EQ(getFlashPlayerVersionFromControl(3, installed, major, revision), row.controlResult);
    EXPECT_EQ(journalCount("create") + journalCount("create refused"), row.controlProbes);
    EXPECT_EQ(installed, row.controlResult == errOk);
    EXPECT_EQ(processState().cachedFlashMajor != -1, row.cached);
  }
}

// The machine's registration names the file, and only a file in the system
// folder counts: a registration pointing anywhere a user could write (here
// the build folder) is as good as none, and of the variables only the
// system's own Windows folder is understood.
TEST_F(FlashDetect, OcxPathComesFromTheRegistrationAndOnlyFromTheSystemFolder) {
  std::string path = "stale";
  EXPECT_EQ(getFlashOCXFilePath(path), errFlashPlayerMissing);
  EXPECT_EQ(path, "");
  registerControl(standinDll());
  EXPECT_EQ(getFlashOCXFilePath(path), errOk);
  EXPECT_EQ(path, standinDll());
  registerControl("%SystemRoot%\\system32\\Macromed\\Flash\\flash_standin.ocx");
  EXPECT_EQ(getFlashOCXFilePath(path), errOk);
  EXPECT_TRUE(samePath(path, standinDll())) << path;
  const std::string built = winfs::hostPath(TEST_BINARY_DIR "/fixtures/flash_standin.dll");
  for (const std::string& elsewhere : {std::string(), built, std::string("%USERPROFILE%\\flash.ocx"),
                                       std::string("C:\\windows\\system32\\..\\Temp\\flash.ocx"),
                                       std::string("C:\\windows\\system32\\Macromed\\Flash")}) {
    SCOPED_TRACE(elsewhere);
    registerControl(elsewhere);
    EXPECT_EQ(getFlashOCXFilePath(path), errFlashPlayerMissing);
    void* control = nullptr;
    EXPECT_TRUE(FAILED(createFlashControl(IID_IDispatch, &control)));
    EXPECT_EQ(control, nullptr);
  }
}

// The few tests that really wait: the 500 ms before each probe.  The clock
// shows that a wait is real (a lower bound holds on any machine); the trace
// counts the waits.
TEST_F(FlashDetect, ProbeWaitsOnceThenTheCacheAnswers) {
  flashTimings().probeWaitMs = kFlashProbeWaitMs;
  registerControl(standinDllNoVersion());
  setSetting("Version", "WIN 10,0,2,54");
  TracedEvents traced;
  bool installed = false;
  std::int32_t major = 0, revision = 0;
  DWORD start = GetTickCount();
  getFlashPlayerVersion(20, installed, major, revision);
  DWORD first = GetTickCount() - start;
  EXPECT_TRUE(installed);
  EXPECT_EQ(major, 10);
  EXPECT_EQ(revision, 2);
  EXPECT_GE(first, 490u);
  EXPECT_EQ(traced.count("player probe wait"), 1);  // one wait, not one per attempt
  EXPECT_EQ(processState().cachedFlashMajor, 10);
  EXPECT_EQ(processState().cachedFlashRevision, 2);

  // The cache answers without a control, even once none is registered, and
  // without a probe (none would find a control now).
  unregisterControl();
  flashTimings().probeWaitMs = 0;
  getFlashPlayerVersion(20, installed, major, revision);
  EXPECT_EQ(traced.count("player probe wait"), 1);
  EXPECT_TRUE(installed);
  EXPECT_EQ(major, 10);
  EXPECT_EQ(verifyFlashPlayerControl(20), errOk);
  EXPECT_EQ(journalCount("create"), 1);
  std::printf("probe answering: first query %lu ms\n", static_cast<unsigned long>(first));
}

TEST_F(FlashDetect, FailingCreationWaitsBeforeEveryAttempt) {
  flashTimings().probeWaitMs = kFlashProbeWaitMs;
  registerControl(standinDllNoVersion());
  setFlag("FailCreate", true);
  bool installed = true;
  std::int32_t major = 1, revision = 1;
  TracedEvents traced;
  DWORD start = GetTickCount();
  EXPECT_EQ(getFlashPlayerVersionFromControl(3, installed, major, revision), errFlashPlayerMissing);
  DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 3 * 490u);
  EXPECT_EQ(traced.count("player probe wait"), 3);
  EXPECT_FALSE(installed);
  EXPECT_EQ(journalCount("create refused"), 3);
  EXPECT_EQ(processState().cachedFlashMajor, -1);

  // A control that exists but cannot tell its version ends the attempts at once.
  setFlag("FailCreate", false);
  setSetting("Version", "no version here");
  EXPECT_EQ(getFlashPlayerVersionFromControl(5, installed, major, revision), errFlashPlayerMissing);
  EXPECT_EQ(traced.count("player probe wait"), 3 + 1);
  EXPECT_EQ(journalCount("create"), 1);
  std::printf("3 failing attempts: %lu ms\n", static_cast<unsigned long>(took));
}

// ------------------------------------------------------------ installer runs

struct RunRow {
  const char* fileName;
  bool silent;
  const char* logged;  // "<name>|<parameters>"
};

TEST_F(FlashDetect, InstallerParametersFollowItsName) {
  const RunRow rows[] = {
      {"install_flash_player_10_active_x.exe", true, "install_flash_player_10_active_x.exe|/s"},
      {"install_flash_player_active_x.exe", true, "install_flash_player_active_x.exe|/s"},
      {"Install_Flash_Player_Active_X.exe", true, "Install_Flash_Player_Active_X.exe|/Q"},
      {"flash_setup.exe", true, "flash_setup.exe|/Q"},
      {"install_flash_player_10_active_x.exe", false, "install_flash_player_10_active_x.exe|"},
      {"flash_setup.exe", false, "flash_setup.exe|"},
  };
  // No ControlPath: the stand-in only records its runs.
  size_t n = 0;
  for (const RunRow& row : rows) {
    SCOPED_TRACE(row.fileName);
    ASSERT_TRUE(CopyFileA(installerStandin().c_str(), (workDir() + row.fileName).c_str(), FALSE));
    EXPECT_EQ(runFlashPlayerInstaller(row.fileName, row.silent), errOk);
    std::vector<std::string> runs = waitForInstallerRuns(++n);
    ASSERT_EQ(runs.size(), n);
    EXPECT_EQ(runs.back(), row.logged);
  }
  EXPECT_EQ(runFlashPlayerInstaller("missing.exe", true), errFlashInstallerMissing);
  EXPECT_EQ(runFlashPlayerInstaller("missing.exe", false), errFlashInstallerMissing);
}

TEST_F(FlashDetect, CleanInstallThroughTheSilentInstaller) {
  flashTimings().probeWaitMs = kFlashProbeWaitMs;
  const std::string name = "install_flash_player_10_active_x.exe";
  ASSERT_TRUE(CopyFileA(installerStandin().c_str(), (workDir() + name).c_str(), FALSE));
  setSetting("ControlPath", standinDll());

  TracedEvents traced;
  DWORD start = GetTickCount();
  EXPECT_EQ(handleFlashActiveXControlUpdate(name, true), errOk);
  DWORD took = GetTickCount() - start;
  EXPECT_EQ(traced.count("player installer"), 1);  // no visible second run was started
  std::vector<std::string> runs = waitForInstallerRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0], name + "|/s");
  EXPECT_EQ(processState().cachedFlashMajor, 10);
  EXPECT_EQ(processState().cachedFlashRevision, 45);
  std::string ocx;
  EXPECT_EQ(getFlashOCXFilePath(ocx), errOk);
  EXPECT_EQ(ocx, standinDll());
  std::printf("clean install until the control answered: %lu ms\n",
              static_cast<unsigned long>(took));
}

TEST_F(FlashDetect, FailedInstallRunsTheInstallerAgainVisibly) {
  const std::string name = "flash_player_broken.exe";
  ASSERT_TRUE(CopyFileA(installerStandin().c_str(), (workDir() + name).c_str(), FALSE));
  setSetting("ControlPath", standinDll());

  DWORD start = GetTickCount();
  EXPECT_EQ(handleFlashActiveXControlUpdate(name, true), errFlashPlayerMissing);
  DWORD took = GetTickCount() - start;
  std::vector<std::string> runs = waitForInstallerRuns(2);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], name + "|/Q");
  EXPECT_EQ(runs[1], name + "|");
  EXPECT_EQ(processState().cachedFlashMajor, -1);
  EXPECT_GE(took, 20 * flashTimings().probeWaitMs);

  EXPECT_EQ(handleFlashActiveXControlUpdate("absent.exe", true), errFlashInstallerMissing);
}

}  // namespace
