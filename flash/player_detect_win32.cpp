// Flash Player detection and installer runs (declared in flash/player_detect_win32.h).
#include "flash/player_detect_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <vector>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "base/process_state.h"
#include "flash/com_win32.h"
#include "flash/flash_version.h"
#include "system/folders_win32.h"
#include "system/handles_win32.h"
#include "system/win_text_win32.h"

FlashTimings& flashTimings() {
  static FlashTimings timings;
  return timings;
}

namespace {

constexpr int kInstallCheckAttempts = 20;

// The control's answer for "$version", as text.
bool readVersionVariable(IDispatch* control, std::string& text) {
  std::string name = "$version";
  Variant result;
  if (FAILED(callMethod(control, "GetVariable", &name, nullptr, &result))) return false;
  if (result.value().vt != VT_BSTR) return false;
  BSTR b = result.value().bstrVal;
  text = textFromWide(b, b ? static_cast<int>(SysStringLen(b)) : 0);
  return true;
}

}  // namespace

ErrorCode getFlashOCXFilePath(std::string& path) {
  path.clear();
  // Read access is all this needs; asking for more fails for users without
  // write access to HKEY_CLASSES_ROOT and would hide an installed control.
  UniqueRegKey key;
  if (winRegOpenKey(HKEY_CLASSES_ROOT, kFlashInprocServerKey, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return errFlashPlayerMissing;
  if (winRegQueryString(key.get(), nullptr, path) != ERROR_SUCCESS) return errFlashPlayerMissing;
  return path.empty() ? errFlashPlayerMissing : errOk;
}

void getFlashPlayerVersionInfoFromFileProperties(bool& installed, std::int32_t& major,
                                                 std::int32_t& revision) {
  major = 0;
  revision = 0;
  std::string path;
  if (getFlashOCXFilePath(path) != errOk || !fileExists(path)) return;
  installed = true;
  int fileMajor = 0;
  int fileRevision = 0;
  myGetFileVersion(path, fileMajor, fileRevision);
  major = fileMajor;
  revision = fileRevision;
}

ErrorCode getFlashPlayerVersionFromControl(int attempts, bool& installed, std::int32_t& major,
                                           std::int32_t& revision) {
  ProcessState& state = processState();
  installed = true;
  if (state.cachedFlashMajor != -1) {
    major = state.cachedFlashMajor;
    revision = state.cachedFlashRevision;
    return errOk;
  }
  major = 0;
  revision = 0;
  installed = false;
  // Missing until a control answers, also when no attempt is made at all.
  ErrorCode result = errFlashPlayerMissing;
  OleSession ole;
  ComPtr<IDispatch> probe;
  for (int i = 0; i < attempts && !probe; ++i) {
    Sleep(flashTimings().probeWaitMs);
    if (FAILED(CoCreateInstance(CLSID_ShockwaveFlashControl, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IDispatch, probe.putVoid()))) {
      probe.reset();
      continue;  // not registered (yet): the next attempt follows the next wait
    }
    initNewControl(probe.get());
    std::string text;
    std::int32_t m = 0;
    std::int32_t r = 0;
    if (!readVersionVariable(probe.get(), text) || !parseFlashVersionString(text, m, r))
      break;  // a control that cannot tell its version is no usable player
    major = m;
    revision = r;
    state.cachedFlashMajor = m;
    state.cachedFlashRevision = r;
    installed = true;
    result = errOk;
  }
  return result;
}

void getFlashPlayerVersion(int attempts, bool& installed, std::int32_t& major,
                           std::int32_t& revision) {
  installed = false;
  major = 0;
  revision = 0;
  getFlashPlayerVersionInfoFromFileProperties(installed, major, revision);
  if (major <= 0) getFlashPlayerVersionFromControl(attempts, installed, major, revision);
}

ErrorCode verifyFlashPlayerControl(int attempts) {
  bool installed = false;
  std::int32_t major = 0;
  std::int32_t revision = 0;
  return getFlashPlayerVersionFromControl(attempts, installed, major, revision);
}

ErrorCode runFlashPlayerInstaller(const std::string& fileName, bool silent) {
  std::string path = processState().folders.workFolder + fileName;
  const char* parameters = "/Q";
  if (fileName == "install_flash_player_active_x.exe" ||
      fileName == "install_flash_player_10_active_x.exe")
    parameters = "/s";
  if (!silent) parameters = nullptr;
  if (!fileExists(path)) return errFlashInstallerMissing;

  traceEvent("player installer", {path, silent ? "silently" : "for the user", parameters ? parameters : ""});
  Application& app = Application::instance();
  auto shown = static_cast<std::intptr_t>(
      winShellExecute(app.mainWindow(), path, parameters, silent ? SW_HIDE : SW_SHOWNORMAL));
  if (silent) app.bringToFront();
  if (shown > 32) return errOk;
  if (shown == 0) return errOutOfMemory;
  return static_cast<ErrorCode>(shown);
}

ErrorCode handleFlashActiveXControlUpdate(const std::string& fileName, bool offerToUser) {
  ErrorCode r = runFlashPlayerInstaller(fileName, true);
  if (r == errOk) r = verifyFlashPlayerControl(kInstallCheckAttempts);
  if (r != errOk && offerToUser) runFlashPlayerInstaller(fileName, false);  // for the user to complete
  return r;
}
