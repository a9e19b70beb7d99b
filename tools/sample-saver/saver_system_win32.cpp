// The sample saver's calls into Windows (declared in saver_system_win32.h),
// made through the program's one names module: this file only converts the
// saver's UTF-16 texts to and from the module's UTF-8.
#include "tools/sample-saver/saver_system_win32.h"

#include <shellapi.h>
#include <shlobj.h>

#include "base/error_text_win32.h"
#include "system/system_library_win32.h"

namespace {

std::string utf8(const std::wstring& text) { return fromWideText(text.data(), text.size()); }

std::wstring withoutTrailingSlash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// A function of a library this program imports, looked up by name.
template <typename Fn>
Fn loaded(const char* library, const char* name) {
  return procAddress<Fn>(GetModuleHandleA(library), name);
}

}  // namespace

std::string ansiText(const std::wstring& text) { return toAnsiText(utf8(text)); }

DWORD saverGetFileAttributes(const std::wstring& path) { return winGetFileAttributes(utf8(path)); }

bool saverSetFileAttributes(const std::wstring& path, DWORD attributes) {
  return winSetFileAttributes(utf8(path), attributes);
}

bool saverDeleteFile(const std::wstring& path) { return winDeleteFile(utf8(path)); }

bool saverRemoveDirectory(const std::wstring& path) { return winRemoveDirectory(utf8(path)); }

HANDLE saverOpenForReading(const std::wstring& path) {
  return winCreateFile(utf8(path), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

bool SaverListing::first(const std::wstring& pattern) { return listing_.first(utf8(pattern)) && take(); }

bool SaverListing::next() { return listing_.next() && take(); }

bool SaverListing::take() {
  name_ = toWideText(listing_.entry().name);
  attributes_ = listing_.entry().attributes;
  return true;
}

std::wstring saverProgramPath() {
  std::wstring path = toWideText(winModuleFileName());
  // The name the file has, not the 8.3 form it may have been started by
  // (the uninstall entry of Windows 9x holds that form).
  std::size_t slash = path.find_last_of(L'\\');
  SaverListing self;
  if (slash != std::wstring::npos && self.first(path)) path = path.substr(0, slash + 1) + self.name();
  return path;
}

std::wstring saverSystemFolder() { return withoutTrailingSlash(toWideText(winSystemDirectory())); }

std::wstring saverWindowsFolder() { return withoutTrailingSlash(toWideText(winSystemWindowsDirectory())); }

std::wstring saverCommonAppData() {
  // As the installer finds it: the shell's item list of the folder first.
  std::string path;
  LPITEMIDLIST list = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_APPDATA, &list)) && list) {
    path = winPathFromIdList(list);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
      allocator->Free(list);
      allocator->Release();
    }
  }
  if (path.empty()) {
    // Older shells know the folder through SHFolder.dll only.
    if (HMODULE shfolder = loadSystemLibrary("shfolder.dll")) {
      path = winShFolderPath(shfolder, nullptr, CSIDL_COMMON_APPDATA);
      FreeLibrary(shfolder);
    }
  }
  return withoutTrailingSlash(toWideText(path));
}

std::wstring saverErrorText(DWORD code) {
  std::wstring text = toWideText(systemErrorText(static_cast<ErrorCode>(code)));
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return text;
}

LONG saverRegOpenKey(HKEY root, const std::wstring& path, REGSAM access, HKEY* key) {
  return winRegOpenKey(root, utf8(path), access, key);
}

std::wstring saverRegQueryString(HKEY key, const wchar_t* value) {
  std::string text;
  return winRegQueryString(key, utf8(value).c_str(), text) == ERROR_SUCCESS ? toWideText(text) : std::wstring();
}

LONG saverRegDeleteKey(HKEY root, const std::wstring& path) { return winRegDeleteKey(root, utf8(path)); }

namespace {

// WININIT.INI's [rename] section takes "NUL=<8.3 path>" lines, processed
// (and the file renamed) when Windows 9x next starts.  A line is added
// beside those of other programs: WritePrivateProfileString would replace
// the section's one "NUL" key.  The file is in the ANSI code page.
bool deleteAtRestartOn9x(const std::wstring& path) {
  std::string shortPath = winShortPathName(utf8(path));
  std::wstring windows = saverWindowsFolder();
  if (shortPath.empty() || windows.empty()) return false;
  std::string ini = utf8(windows) + "\\WININIT.INI";
  std::string text;
  {
    UniqueFile in(winCreateFile(ini, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
    DWORD size = in ? GetFileSize(in.get(), nullptr) : 0;
    if (in && size != INVALID_FILE_SIZE && size > 0) {
      text.resize(size);
      DWORD got = 0;
      if (!ReadFile(in.get(), text.data(), size, &got, nullptr) || got != size) return false;
    }
  }
  std::string line = "NUL=" + toAnsiText(shortPath) + "\r\n";
  std::string lower = text;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  std::size_t section = lower.find("[rename]");
  if (section != std::string::npos) {
    std::size_t after = text.find('\n', section);
    text.insert(after == std::string::npos ? text.size() : after + 1,
                after == std::string::npos ? "\r\n" + line : line);
  } else {
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text += "[rename]\r\n" + line;
  }
  UniqueFile out(winCreateFile(ini, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  DWORD written = 0;
  return out && WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

}  // namespace

bool saverDeleteAtRestart(const std::wstring& path) {
  return wideCallsAvailable() ? winDeleteAtRestart(utf8(path)) : deleteAtRestartOn9x(path);
}

HBITMAP saverLoadBitmapFile(const std::wstring& path) {
  return static_cast<HBITMAP>(winLoadImageFile(utf8(path), IMAGE_BITMAP, LR_CREATEDIBSECTION));
}

int saverRunElevated(const std::wstring& program, const wchar_t* parameters) {
  // Only systems with user account control ask for this; all have the W call.
  auto execute = loaded<decltype(&::ShellExecuteExW)>("shell32.dll", "ShellExecuteExW");
  if (!execute) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return -1;
  }
  SHELLEXECUTEINFOW run{};
  run.cbSize = sizeof(run);
  run.fMask = SEE_MASK_NOCLOSEPROCESS;
  run.lpVerb = L"runas";
  run.lpFile = program.c_str();
  run.lpParameters = parameters;
  run.nShow = SW_SHOWNORMAL;
  if (!execute(&run) || !run.hProcess) return -1;
  UniqueKernelHandle process(run.hProcess);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return -1;
  return static_cast<int>(code);
}

bool saverRunsWithoutElevation() {
  auto open = loaded<decltype(&::OpenProcessToken)>("advapi32.dll", "OpenProcessToken");
  auto query = loaded<decltype(&::GetTokenInformation)>("advapi32.dll", "GetTokenInformation");
  if (!wideCallsAvailable() || !open || !query) return false;
  UniqueKernelHandle token;
  if (!open(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!query(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
  return elevation.TokenIsElevated == 0;
}
