// Flash Player detection and installer runs (declared in flash/player_detect_win32.h).
#include "flash/player_detect_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/application_win32.h"
#include "base/diagnostic_trace.h"
#include "base/process_state.h"
#include "flash/com_win32.h"
#include "flash/flash_version.h"
#include "system/folders_win32.h"
#include "base/names.h"
#include "system/handles_win32.h"
#include "system/system_library_win32.h"
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

namespace {

// The registered text with %SystemRoot% and %windir% replaced; empty when
// it uses any other variable (the environment is the user's).
std::string expandSystemRoot(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    std::size_t end = text.find('%', i + 1);
    if (end == std::string::npos) return std::string();
    std::string name = text.substr(i + 1, end - i - 1);
    if (!samePath(name, "SystemRoot") && !samePath(name, "windir")) return std::string();
    std::string windows = winSystemWindowsDirectory();
    if (windows.empty()) return std::string();
    out += windows;
    i = end + 1;
  }
  return out;
}

std::string wow64SystemFolder() {
  auto fn = procAddress<decltype(&::GetSystemWow64DirectoryW)>(GetModuleHandleA("kernel32.dll"),
                                                                "GetSystemWow64DirectoryW");
  wchar_t buffer[MAX_PATH + 1] = {};
  UINT n = fn && wideCallsAvailable() ? fn(buffer, MAX_PATH + 1) : 0;
  return n > 0 && n <= MAX_PATH ? fromWideText(buffer, n) : std::string();
}

}  // namespace

ErrorCode getFlashOCXFilePath(std::string& path) {
  path.clear();
  // Read access is all this needs; asking for more fails for users without
  // write access to the machine's classes and would hide an installed control.
  UniqueRegKey key;
  std::string registered;
  if (winRegOpenKey(HKEY_LOCAL_MACHINE, kFlashInprocServerKey, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
      winRegQueryString(key.get(), nullptr, registered) != ERROR_SUCCESS)
    return errFlashPlayerMissing;
  std::string file = expandSystemRoot(registered);
  for (const std::string& folder : {winSystemDirectory(), wow64SystemFolder()}) {
    if (folder.empty() || !isPlainPathBelow(file, folder)) continue;
    DWORD attributes = winGetFileAttributes(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      return errFlashPlayerMissing;
    path = file;
    return errOk;
  }
  return errFlashPlayerMissing;
}

HRESULT createFlashControl(REFIID iid, void** object) {
  *object = nullptr;
  std::string path;
  if (getFlashOCXFilePath(path) != errOk) return REGDB_E_CLASSNOTREG;
  // Loaded once per file and never freed: the controls made from it live
  // until the run ends.
  static std::vector<std::pair<std::string, HMODULE>> loaded;
  HMODULE module = nullptr;
  for (const auto& [file, handle] : loaded)
    if (file == path) module = handle;
  if (!module) {
    module = winLoadLibraryEx(path, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    loaded.emplace_back(path, module);
  }
  auto getClassObject = procAddress<decltype(&::DllGetClassObject)>(module, "DllGetClassObject");
  if (!getClassObject) return CO_E_ERRORINDLL;
  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(CLSID_ShockwaveFlashControl, IID_IClassFactory, factory.putVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, iid, object);
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
    traceEvent("player probe wait", {std::to_string(flashTimings().probeWaitMs)});
    Sleep(flashTimings().probeWaitMs);
    if (FAILED(createFlashControl(IID_IDispatch, probe.putVoid()))) {
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
