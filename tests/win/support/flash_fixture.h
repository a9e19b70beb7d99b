// A test fixture around the stand-in Shockwave Flash control and the
// stand-in player installer (tests/fixtures/flash_standin,
// tests/fixtures/flash_installer_standin).
//
// Each test starts with no control registered, an empty settings key, a
// journal file in its own work folder, no cached player version, short
// probe waits and few creation attempts; TearDown undoes the registration
// and the settings and restores the process-wide values, so later tests see
// "no Flash Player" again.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/process_state.h"
#include "flash/player_detect_win32.h"
#include "tests/win/support/folder_fixture.h"

class FlashFixture : public FolderFixture {
protected:
  void SetUp() override;
  void TearDown() override;

  // The built stand-ins, as Windows paths.
  static std::string standinDll();        // version record 10.0.45.2
  static std::string standinDllNoVersion();
  static std::string installerStandin();

  // Registers dllPath under HKCR as the control's in-process server.
  void registerControl(const std::string& dllPath);
  void unregisterControl();

  void setSetting(const char* name, const std::string& text);
  void setFlag(const char* name, bool on);

  std::string journalPath() const { return workDir() + "journal.txt"; }
  std::vector<std::string> journal() const;
  // Journal lines equal to line.
  int journalCount(const std::string& line) const;
  void clearJournal() const;

  // Lines of installer_runs.txt in the work folder, once the stand-in
  // installer has reported `count` runs of this test (timeoutMs only guards
  // against a hang).
  std::vector<std::string> waitForInstallerRuns(size_t count, DWORD timeoutMs = 60000);

private:
  UniqueKernelHandle installerRuns_;  // released by each run of the stand-in
  size_t installerRunsSeen_ = 0;
  size_t runsEnded_ = 0;  // runs whose process was seen to end
  InstallerFolders savedFolders_;
  FlashTimings savedTimings_;
};

// Handles the messages of this thread for about ms milliseconds.
void pumpMessages(DWORD ms);
