// The sample saver's calls into Windows (declared in saver_system_win32.h).
#include "tools/sample-saver/saver_system_win32.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

namespace {

// A function of a library this program has loaded, looked up by name.
template <typename Fn>
Fn lookup(const char* library, const char* name) {
  HMODULE module = GetModuleHandleA(library);
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The W function where W functions work, else nullptr (use the A function).
#define WIDE(library, name) (wideCallsWork() ? lookup<decltype(&::name)>(library, #name) : nullptr)

constexpr const char* kKernel = "kernel32.dll";
constexpr const char* kUser = "user32.dll";
constexpr const char* kAdvapi = "advapi32.dll";
constexpr const char* kShell = "shell32.dll";

std::wstring withoutTrailingSlash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// A library of the system folder, by its full path (never one planted
// beside the program).
HMODULE systemLibrary(const char* name) {
  char folder[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  return LoadLibraryA((std::string(folder, n) + "\\" + name).c_str());
}

}  // namespace

bool wideCallsWork() {
  // The high bit of GetVersion is set on Windows 95, 98 and ME only.
  static const bool work = (GetVersion() & 0x80000000u) == 0;
  return work;
}

std::string ansiText(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring wideText(const std::string& ansi) {
  if (ansi.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), out.data(), n);
  return out;
}

DWORD saverGetFileAttributes(const std::wstring& path) {
  if (auto fn = WIDE(kKernel, GetFileAttributesW)) return fn(path.c_str());
  return GetFileAttributesA(ansiText(path).c_str());
}

bool saverSetFileAttributes(const std::wstring& path, DWORD attributes) {
  if (auto fn = WIDE(kKernel, SetFileAttributesW)) return fn(path.c_str(), attributes) != FALSE;
  return SetFileAttributesA(ansiText(path).c_str(), attributes) != FALSE;
}

bool saverDeleteFile(const std::wstring& path) {
  if (auto fn = WIDE(kKernel, DeleteFileW)) return fn(path.c_str()) != FALSE;
  return DeleteFileA(ansiText(path).c_str()) != FALSE;
}

bool saverRemoveDirectory(const std::wstring& path) {
  if (auto fn = WIDE(kKernel, RemoveDirectoryW)) return fn(path.c_str()) != FALSE;
  return RemoveDirectoryA(ansiText(path).c_str()) != FALSE;
}

HANDLE saverOpenForReading(const std::wstring& path) {
  if (auto fn = WIDE(kKernel, CreateFileW))
    return fn(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return CreateFileA(ansiText(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool SaverListing::first(const std::wstring& pattern) {
  if (auto fn = WIDE(kKernel, FindFirstFileW)) {
    WIN32_FIND_DATAW data;
    find_.reset(fn(pattern.c_str(), &data));
    return find_ && take(&data);
  }
  WIN32_FIND_DATAA data;
  find_.reset(FindFirstFileA(ansiText(pattern).c_str(), &data));
  return find_ && take(&data);
}

bool SaverListing::next() {
  if (!find_) return false;
  if (auto fn = WIDE(kKernel, FindNextFileW)) {
    WIN32_FIND_DATAW data;
    return fn(find_.get(), &data) && take(&data);
  }
  WIN32_FIND_DATAA data;
  return FindNextFileA(find_.get(), &data) && take(&data);
}

bool SaverListing::take(const void* data) {
  if (wideCallsWork()) {
    const auto* w = static_cast<const WIN32_FIND_DATAW*>(data);
    name_ = w->cFileName;
    attributes_ = w->dwFileAttributes;
  } else {
    const auto* a = static_cast<const WIN32_FIND_DATAA*>(data);
    name_ = wideText(a->cFileName);
    attributes_ = a->dwFileAttributes;
  }
  return true;
}

std::wstring saverProgramPath() {
  std::wstring path;
  if (auto fn = WIDE(kKernel, GetModuleFileNameW)) {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = fn(nullptr, buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) path.assign(buffer, n);
  } else {
    char buffer[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) path = wideText(std::string(buffer, n));
  }
  // The name the file has, not the 8.3 form it may have been started by
  // (the uninstall entry of Windows 9x holds that form).
  std::size_t slash = path.find_last_of(L'\\');
  SaverListing self;
  if (slash != std::wstring::npos && self.first(path)) path = path.substr(0, slash + 1) + self.name();
  return path;
}

std::wstring saverSystemFolder() {
  if (auto fn = WIDE(kKernel, GetSystemDirectoryW)) {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = fn(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? withoutTrailingSlash(std::wstring(buffer, n)) : std::wstring();
  }
  char buffer[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? withoutTrailingSlash(wideText(std::string(buffer, n))) : std::wstring();
}

std::wstring saverWindowsFolder() {
  if (auto fn = WIDE(kKernel, GetWindowsDirectoryW)) {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = fn(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? withoutTrailingSlash(std::wstring(buffer, n)) : std::wstring();
  }
  char buffer[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? withoutTrailingSlash(wideText(std::string(buffer, n))) : std::wstring();
}

std::wstring saverCommonAppData() {
  // As the installer finds it: the shell's item list of the folder first.
  std::wstring path;
  LPITEMIDLIST list = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_APPDATA, &list)) && list) {
    if (auto fn = WIDE(kShell, SHGetPathFromIDListW)) {
      wchar_t buffer[MAX_PATH + 1] = {};
      if (fn(list, buffer)) path = buffer;
    } else {
      char buffer[MAX_PATH + 1] = {};
      if (SHGetPathFromIDListA(list, buffer)) path = wideText(buffer);
    }
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
      allocator->Free(list);
      allocator->Release();
    }
  }
  if (path.empty()) {
    // Older shells know the folder through SHFolder.dll only.
    if (HMODULE shfolder = systemLibrary("shfolder.dll")) {
      using ShGetFolderPathW = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
      using ShGetFolderPathA = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
      auto wide = wideCallsWork() ? reinterpret_cast<ShGetFolderPathW>(
                                        reinterpret_cast<void*>(GetProcAddress(shfolder, "SHGetFolderPathW")))
                                  : nullptr;
      auto narrow = reinterpret_cast<ShGetFolderPathA>(reinterpret_cast<void*>(GetProcAddress(shfolder, "SHGetFolderPathA")));
      wchar_t wbuffer[MAX_PATH + 1] = {};
      char buffer[MAX_PATH + 1] = {};
      if (wide && SUCCEEDED(wide(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, wbuffer))) path = wbuffer;
      else if (!wide && narrow && SUCCEEDED(narrow(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buffer))) path = wideText(buffer);
      FreeLibrary(shfolder);
    }
  }
  return withoutTrailingSlash(path);
}

std::wstring saverErrorText(DWORD code) {
  std::wstring text;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (auto fn = WIDE(kKernel, FormatMessageW)) {
    wchar_t* buffer = nullptr;
    fn(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (buffer) text = buffer;
    if (buffer) LocalFree(buffer);
  } else {
    char* buffer = nullptr;
    FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (buffer) text = wideText(buffer);
    if (buffer) LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text;
}

LONG saverRegOpenKey(HKEY root, const std::wstring& path, REGSAM access, HKEY* key) {
  if (auto fn = WIDE(kAdvapi, RegOpenKeyExW)) return fn(root, path.c_str(), 0, access, key);
  return RegOpenKeyExA(root, ansiText(path).c_str(), 0, access, key);
}

std::wstring saverRegQueryString(HKEY key, const wchar_t* value) {
  DWORD type = 0;
  if (auto fn = WIDE(kAdvapi, RegQueryValueExW)) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (fn(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return {};
    return buffer;
  }
  char buffer[1024] = {};
  DWORD size = sizeof(buffer) - 1;
  if (RegQueryValueExA(key, ansiText(value).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  return wideText(buffer);
}

LONG saverRegDeleteKey(HKEY root, const std::wstring& path) {
  if (auto fn = WIDE(kAdvapi, RegDeleteKeyW)) return fn(root, path.c_str());
  return RegDeleteKeyA(root, ansiText(path).c_str());
}

namespace {

// WININIT.INI's [rename] section takes "NUL=<8.3 path>" lines, processed
// (and the file renamed) when Windows 9x next starts.  A line is added
// beside those of other programs: WritePrivateProfileString would replace
// the section's one "NUL" key.
bool deleteAtRestartOn9x(const std::wstring& path) {
  char shortPath[MAX_PATH + 1] = {};
  DWORD n = GetShortPathNameA(ansiText(path).c_str(), shortPath, MAX_PATH);
  std::wstring windows = saverWindowsFolder();
  if (n == 0 || n >= MAX_PATH || windows.empty()) return false;
  std::string ini = ansiText(windows) + "\\WININIT.INI";
  std::string text;
  {
    UniqueFile in(CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD size = in ? GetFileSize(in.get(), nullptr) : 0;
    if (in && size != INVALID_FILE_SIZE && size > 0) {
      text.resize(size);
      DWORD got = 0;
      if (!ReadFile(in.get(), text.data(), size, &got, nullptr) || got != size) return false;
    }
  }
  std::string line = "NUL=" + std::string(shortPath, n) + "\r\n";
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
  UniqueFile out(CreateFileA(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return out && WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

}  // namespace

bool saverDeleteAtRestart(const std::wstring& path) {
  if (auto fn = WIDE(kKernel, MoveFileExW)) return fn(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
  return !wideCallsWork() && deleteAtRestartOn9x(path);
}

HBITMAP saverLoadBitmapFile(const std::wstring& path) {
  const UINT flags = LR_LOADFROMFILE | LR_CREATEDIBSECTION;
  if (auto fn = WIDE(kUser, LoadImageW)) return static_cast<HBITMAP>(fn(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, flags));
  return static_cast<HBITMAP>(LoadImageA(nullptr, ansiText(path).c_str(), IMAGE_BITMAP, 0, 0, flags));
}

int saverRunElevated(const std::wstring& program, const wchar_t* parameters) {
  // Only systems with user account control ask for this; all have the W call.
  auto execute = lookup<decltype(&::ShellExecuteExW)>(kShell, "ShellExecuteExW");
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
  auto open = lookup<decltype(&::OpenProcessToken)>(kAdvapi, "OpenProcessToken");
  auto query = lookup<decltype(&::GetTokenInformation)>(kAdvapi, "GetTokenInformation");
  if (!wideCallsWork() || !open || !query) return false;
  UniqueKernelHandle token;
  if (!open(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!query(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
  return elevation.TokenIsElevated == 0;
}
