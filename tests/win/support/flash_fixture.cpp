// The stand-in Flash control fixture (declared in flash_fixture.h).
#include "tests/win/support/flash_fixture.h"

#include "system/handles_win32.h"
#include "tests/fixtures/flash_standin/flash_standin_settings.h"

namespace {

const char kInprocKey[] = STANDIN_CLSID_KEY "\\InprocServer32";

void deleteSettings() {
  RegDeleteKeyA(HKEY_CURRENT_USER, STANDIN_SETTINGS_KEY);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SaverTests");  // only when empty
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

void pumpMessages(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(5);
  } while (GetTickCount() - start < ms);
}

// The installer takes the control only from the system folder, where the
// real one lives too (Macromed\\Flash).
std::string FlashFixture::standinDll() {
  return winfs::systemCopyOf(winfs::hostPath(TEST_BINARY_DIR "/fixtures/flash_standin.dll"),
                             "Macromed\\Flash\\flash_standin.ocx");
}

std::string FlashFixture::standinDllNoVersion() {
  return winfs::systemCopyOf(winfs::hostPath(TEST_BINARY_DIR "/fixtures/flash_standin_nover.dll"),
                             "Macromed\\Flash\\flash_standin_nover.ocx");
}

std::string FlashFixture::installerStandin() {
  return winfs::hostPath(TEST_BINARY_DIR "/fixtures/flash_installer_standin.exe");
}

void FlashFixture::SetUp() {
  FolderFixture::SetUp();
  ASSERT_TRUE(winfs::exists(standinDll())) << standinDll();
  unregisterControl();
  deleteSettings();
  setSetting("Journal", journalPath());
  installerRuns_.reset(CreateSemaphoreA(nullptr, 0, 1000, STANDIN_INSTALLER_RUNS_SEMAPHORE));
  ASSERT_TRUE(installerRuns_) << GetLastError();
  installerRunsSeen_ = 0;
  runsEnded_ = 0;
  ProcessState& state = processState();
  savedFolders_ = state.folders;
  state.folders.workFolder = workDir();
  state.cachedFlashMajor = -1;
  state.cachedFlashRevision = -1;
  savedTimings_ = flashTimings();
  flashTimings().probeWaitMs = 10;
  flashTimings().controlCreateAttempts = 5;
}

void FlashFixture::TearDown() {
  unregisterControl();
  deleteSettings();
  ProcessState& state = processState();
  state.folders = savedFolders_;
  state.cachedFlashMajor = -1;
  state.cachedFlashRevision = -1;
  flashTimings() = savedTimings_;
  FolderFixture::TearDown();
}

void FlashFixture::registerControl(const std::string& dllPath) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kInprocKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.put(), nullptr),
            ERROR_SUCCESS);
  const char model[] = "Apartment";
  ASSERT_EQ(RegSetValueExA(key.get(), nullptr, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(dllPath.c_str()),
                           static_cast<DWORD>(dllPath.size() + 1)),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.get(), "ThreadingModel", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(model), sizeof model),
            ERROR_SUCCESS);
}

void FlashFixture::unregisterControl() {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kInprocKey);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, STANDIN_CLSID_KEY);
}

void FlashFixture::setSetting(const char* name, const std::string& text) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, STANDIN_SETTINGS_KEY, 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
}

void FlashFixture::setFlag(const char* name, bool on) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, STANDIN_SETTINGS_KEY, 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  DWORD value = on ? 1 : 0;
  ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof value),
            ERROR_SUCCESS);
}

std::vector<std::string> FlashFixture::journal() const {
  return splitLines(winfs::readText(journalPath()));
}

int FlashFixture::journalCount(const std::string& line) const {
  int n = 0;
  for (const std::string& l : journal()) n += l == line;
  return n;
}

void FlashFixture::clearJournal() const { DeleteFileA(journalPath().c_str()); }

std::vector<std::string> FlashFixture::waitForInstallerRuns(size_t count, DWORD timeoutMs) {
  while (installerRunsSeen_ < count && WaitForSingleObject(installerRuns_.get(), timeoutMs) == WAIT_OBJECT_0)
    ++installerRunsSeen_;
  // Until a run has ended, its file cannot be replaced: the next copy over
  // it (a name differing in case only) would fail by chance.
  std::vector<std::string> pids = splitLines(winfs::readText(workDir() + STANDIN_INSTALLER_PIDS));
  for (; runsEnded_ < pids.size() && runsEnded_ < installerRunsSeen_; ++runsEnded_) {
    UniqueKernelHandle run(OpenProcess(SYNCHRONIZE, FALSE, std::stoul(pids[runsEnded_])));
    if (run) WaitForSingleObject(run.get(), timeoutMs);  // (none: it has ended already)
  }
  return splitLines(winfs::readText(workDir() + STANDIN_INSTALLER_LOG));
}
