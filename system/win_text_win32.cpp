// Names and texts to and from Windows (declared in system/win_text_win32.h).
#include "system/win_text_win32.h"

#include <winternl.h>

#include <type_traits>

#include "base/code_page.h"
#include "system/system_library_win32.h"

namespace {

// The W function of that name where the W functions work, else nullptr.
// Looked up by name: Windows 95 and NT 4 lack some of them, and an import
// the system does not export would stop the program from loading.
HMODULE wideLibrary(const char* library) { return wideCallsAvailable() ? GetModuleHandleA(library) : nullptr; }

#define WIDE(library, name) procAddress<decltype(&::name)>(wideLibrary(library), #name)

constexpr const char* kKernel = "kernel32.dll";
constexpr const char* kUser = "user32.dll";
constexpr const char* kAdvapi = "advapi32.dll";
constexpr const char* kShell = "shell32.dll";

// A path for the W file functions.  Windows refuses a path of MAX_PATH
// characters or more without the "\\?\" prefix, and so do the A functions
// everywhere; Wine's W functions would accept it.  The same limit here keeps
// one behaviour: such a path fails with ERROR_FILENAME_EXCED_RANGE.
bool widePath(const std::string& path, std::wstring& wide) {
  wide = toWideText(path);
  if (wide.size() < MAX_PATH) return true;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

const wchar_t* wideOrNull(const std::wstring& s, const char* original) { return original ? s.c_str() : nullptr; }

}  // namespace

namespace {

FileOperationObserver fileObserver = nullptr;
bool observeWrites = false;

bool report(FileOperation::Kind kind, const std::string& path, const std::string& other = std::string()) {
  if (!fileObserver) return true;
  FileOperation op;
  op.kind = kind;
  op.path = path;
  op.other = other;
  return reportFileOperation(op);
}

// What a CreateFile call with this disposition and access changes.
bool createsOrEmpties(DWORD disposition) {
  return disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS ||
         disposition == TRUNCATE_EXISTING;
}

}  // namespace

FileOperationObserver setFileOperationObserver(FileOperationObserver observer, bool writes) {
  FileOperationObserver previous = fileObserver;
  fileObserver = observer;
  observeWrites = observer && writes;
  return previous;
}

bool fileWritesObserved() { return observeWrites; }

bool reportFileOperation(const FileOperation& operation) {
  if (!fileObserver) return true;
  DWORD refused = fileObserver(operation);
  if (refused == 0) return true;
  SetLastError(refused);
  return false;
}

bool wideCallsAvailable() {
  // The high bit of GetVersion is set on Windows 95, 98 and ME only.
  static const bool available = (GetVersion() & 0x80000000u) == 0;
  return available;
}

std::wstring toWideText(const std::string& text) {
  std::u16string wide = utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string toAnsiText(const std::string& text) { return utf8ToAnsiLossy(text, GetACP()); }

std::string fromWideText(const wchar_t* text, std::size_t length) {
  return utf16ToUtf8(std::u16string(text, text + length));
}

std::string fromAnsiText(const char* text, std::size_t length) {
  std::string bytes(text, length);
  // What the system hands out is its own code page's text; a byte it does not
  // define is kept rather than losing the name.
  return ansiToUtf8(bytes, GetACP()).value_or(bytes);
}

HANDLE winCreateFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                     SECURITY_ATTRIBUTES* security) {
  if (createsOrEmpties(disposition) && !report(FileOperation::Kind::Create, path)) return INVALID_HANDLE_VALUE;
  if (auto fn = WIDE(kKernel, CreateFileW)) {
    std::wstring wide;
    return widePath(path, wide) ? fn(wide.c_str(), access, share, security, disposition, flags, nullptr)
                                : INVALID_HANDLE_VALUE;
  }
  return CreateFileA(toAnsiText(path).c_str(), access, share, security, disposition, flags, nullptr);
}

DWORD winGetFileAttributes(const std::string& path) {
  if (auto fn = WIDE(kKernel, GetFileAttributesW)) {
    std::wstring wide;
    return widePath(path, wide) ? fn(wide.c_str()) : INVALID_FILE_ATTRIBUTES;
  }
  return GetFileAttributesA(toAnsiText(path).c_str());
}

bool winSetFileAttributes(const std::string& path, DWORD attributes) {
  if (fileObserver) {
    FileOperation op;
    op.kind = FileOperation::Kind::Attributes;
    op.path = path;
    op.attributes = attributes;
    if (!reportFileOperation(op)) return false;
  }
  if (auto fn = WIDE(kKernel, SetFileAttributesW)) {
    std::wstring wide;
    return widePath(path, wide) && fn(wide.c_str(), attributes) != FALSE;
  }
  return SetFileAttributesA(toAnsiText(path).c_str(), attributes) != FALSE;
}

bool winCreateDirectory(const std::string& path, SECURITY_ATTRIBUTES* attributes) {
  if (!report(FileOperation::Kind::MakeFolder, path)) return false;
  if (auto fn = WIDE(kKernel, CreateDirectoryW)) {
    std::wstring wide;
    return widePath(path, wide) && fn(wide.c_str(), attributes) != FALSE;
  }
  return CreateDirectoryA(toAnsiText(path).c_str(), attributes) != FALSE;
}

bool winRemoveDirectory(const std::string& path) {
  if (!report(FileOperation::Kind::RemoveFolder, path)) return false;
  if (auto fn = WIDE(kKernel, RemoveDirectoryW)) {
    std::wstring wide;
    return widePath(path, wide) && fn(wide.c_str()) != FALSE;
  }
  return RemoveDirectoryA(toAnsiText(path).c_str()) != FALSE;
}

bool winDeleteFile(const std::string& path) {
  if (!report(FileOperation::Kind::Delete, path)) return false;
  if (auto fn = WIDE(kKernel, DeleteFileW)) {
    std::wstring wide;
    return widePath(path, wide) && fn(wide.c_str()) != FALSE;
  }
  return DeleteFileA(toAnsiText(path).c_str()) != FALSE;
}

bool winMoveFile(const std::string& from, const std::string& to, DWORD flags) {
  if (!report(FileOperation::Kind::Rename, from, to)) return false;
  if (auto fn = WIDE(kKernel, MoveFileExW)) {
    std::wstring a, b;
    return widePath(from, a) && widePath(to, b) && fn(a.c_str(), b.c_str(), flags) != FALSE;
  }
  // Windows 95, 98 and ME have no MoveFileEx: a plain rename is what is asked for.
  return MoveFileA(toAnsiText(from).c_str(), toAnsiText(to).c_str()) != FALSE;
}

bool winDeleteAtRestart(const std::string& path) {
  auto fn = WIDE(kKernel, MoveFileExW);
  std::wstring wide;
  return fn && widePath(path, wide) && fn(wide.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool winCopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  if (!report(FileOperation::Kind::Copy, from, to)) return false;
  BOOL fail = failIfExists ? TRUE : FALSE;
  if (auto fn = WIDE(kKernel, CopyFileW)) {
    std::wstring wideFrom, wideTo;
    return widePath(from, wideFrom) && widePath(to, wideTo) && fn(wideFrom.c_str(), wideTo.c_str(), fail) != FALSE;
  }
  return CopyFileA(toAnsiText(from).c_str(), toAnsiText(to).c_str(), fail) != FALSE;
}

std::string winShortPathName(const std::string& path) {
  if (auto fn = WIDE(kKernel, GetShortPathNameW)) {
    std::wstring wide = toWideText(path);
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD n = fn(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n >= buffer.size()) {
      buffer.resize(n + 1);
      n = fn(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    return n > 0 && n < buffer.size() ? fromWideText(buffer.data(), n) : std::string();
  }
  char buffer[MAX_PATH + 1];
  DWORD n = GetShortPathNameA(toAnsiText(path).c_str(), buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? fromAnsiText(buffer, n) : std::string();
}

bool FolderListing::take(const void* data, bool wide) {
  if (wide) {
    const auto* d = static_cast<const WIN32_FIND_DATAW*>(data);
    entry_.name = fromWideText(d->cFileName, wcslen(d->cFileName));
    entry_.attributes = d->dwFileAttributes;
    entry_.size = (std::uint64_t{d->nFileSizeHigh} << 32) | d->nFileSizeLow;
  } else {
    const auto* d = static_cast<const WIN32_FIND_DATAA*>(data);
    // A long name outside the code page reads as '?': the short name is the
    // one that still reaches the file.
    const char* name = d->cFileName;
    if (std::string(name).find('?') != std::string::npos && d->cAlternateFileName[0] != '\0')
      name = d->cAlternateFileName;
    entry_.name = fromAnsiText(name, strlen(name));
    entry_.attributes = d->dwFileAttributes;
    entry_.size = (std::uint64_t{d->nFileSizeHigh} << 32) | d->nFileSizeLow;
  }
  return true;
}

bool FolderListing::first(const std::string& pattern) {
  if (auto fn = WIDE(kKernel, FindFirstFileW)) {
    WIN32_FIND_DATAW data;
    std::wstring wide;
    find_.reset(widePath(pattern, wide) ? fn(wide.c_str(), &data) : INVALID_HANDLE_VALUE);
    wide_ = true;
    return find_ && take(&data, true);
  }
  WIN32_FIND_DATAA data;
  find_.reset(FindFirstFileA(toAnsiText(pattern).c_str(), &data));
  wide_ = false;
  return find_ && take(&data, false);
}

bool FolderListing::next() {
  if (!find_) return false;
  if (wide_) {
    auto fn = WIDE(kKernel, FindNextFileW);
    WIN32_FIND_DATAW data;
    return fn && fn(find_.get(), &data) && take(&data, true);
  }
  WIN32_FIND_DATAA data;
  return FindNextFileA(find_.get(), &data) && take(&data, false);
}

std::string winModuleFileName(HMODULE module) {
  if (auto fn = WIDE(kKernel, GetModuleFileNameW)) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (int tries = 0; tries < 4; ++tries) {
      DWORD n = fn(module, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) return std::string();
      if (n < buffer.size()) return fromWideText(buffer.data(), n);
      buffer.resize(buffer.size() * 4);  // truncated: a path longer than MAX_PATH
    }
    return std::string();
  }
  std::vector<char> buffer(MAX_PATH + 1);
  DWORD n = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
  return n > 0 && n < buffer.size() ? fromAnsiText(buffer.data(), n) : std::string();
}

std::string winCommandLine() {
  if (auto fn = WIDE(kKernel, GetCommandLineW)) {
    const wchar_t* line = fn();
    return line ? fromWideText(line, wcslen(line)) : std::string();
  }
  const char* line = GetCommandLineA();
  return line ? fromAnsiText(line, strlen(line)) : std::string();
}

std::string winSystemDirectory() {
  if (auto fn = WIDE(kKernel, GetSystemDirectoryW)) {
    wchar_t buffer[301];
    UINT n = fn(buffer, 301);
    return n > 0 && n < 301 ? fromWideText(buffer, n) : std::string();
  }
  char buffer[301];
  UINT n = GetSystemDirectoryA(buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? fromAnsiText(buffer, n) : std::string();
}

std::string winEnvironmentVariable(const char* name) {
  if (auto fn = WIDE(kKernel, GetEnvironmentVariableW)) {
    std::wstring wideName = toWideText(name);
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (int tries = 0; tries < 3; ++tries) {
      DWORD n = fn(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) return std::string();
      if (n < buffer.size()) return fromWideText(buffer.data(), n);
      buffer.resize(n + 1);  // too small: n is the size needed
    }
    return std::string();
  }
  std::vector<char> buffer(MAX_PATH + 1);
  for (int tries = 0; tries < 3; ++tries) {
    DWORD n = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return fromAnsiText(buffer.data(), n);
    buffer.resize(n + 1);
  }
  return std::string();
}

std::string winPathFromIdList(LPCITEMIDLIST list) {
  if (auto fn = WIDE(kShell, SHGetPathFromIDListW)) {
    wchar_t buffer[MAX_PATH + 1] = {};
    return fn(list, buffer) ? fromWideText(buffer, wcslen(buffer)) : std::string();
  }
  char buffer[MAX_PATH + 1] = {};
  return SHGetPathFromIDListA(list, buffer) ? fromAnsiText(buffer, strlen(buffer)) : std::string();
}

std::string winShFolderPath(HMODULE shfolder, HWND owner, int csidl) {
  if (!shfolder) return std::string();
  if (wideCallsAvailable()) {
    if (auto fn = procAddress<decltype(&::SHGetFolderPathW)>(shfolder, "SHGetFolderPathW")) {
      wchar_t buffer[MAX_PATH + 1] = {};
      return fn(owner, csidl, nullptr, 0, buffer) == S_OK ? fromWideText(buffer, wcslen(buffer)) : std::string();
    }
  }
  auto fn = procAddress<decltype(&::SHGetFolderPathA)>(shfolder, "SHGetFolderPathA");
  if (!fn) return std::string();
  char buffer[MAX_PATH + 1] = {};
  return fn(owner, csidl, nullptr, 0, buffer) == S_OK ? fromAnsiText(buffer, strlen(buffer)) : std::string();
}

HMODULE winLoadLibraryEx(const std::string& path, DWORD flags) {
  if (auto fn = WIDE(kKernel, LoadLibraryExW)) return fn(toWideText(path).c_str(), nullptr, flags);
  return LoadLibraryExA(toAnsiText(path).c_str(), nullptr, flags);
}

std::vector<char> winFileVersionInfo(HMODULE versionLibrary, const std::string& path) {
  if (!versionLibrary) return {};
  DWORD handle = 0;
  auto wideSize = procAddress<decltype(&::GetFileVersionInfoSizeW)>(versionLibrary, "GetFileVersionInfoSizeW");
  auto wideInfo = procAddress<decltype(&::GetFileVersionInfoW)>(versionLibrary, "GetFileVersionInfoW");
  if (wideCallsAvailable() && wideSize && wideInfo) {
    std::wstring wide = toWideText(path);
    DWORD size = wideSize(wide.c_str(), &handle);
    if (size == 0) return {};  // no resource, or no such file
    std::vector<char> buffer(size);
    return wideInfo(wide.c_str(), 0, size, buffer.data()) ? buffer : std::vector<char>();
  }
  auto ansiSize = procAddress<decltype(&::GetFileVersionInfoSizeA)>(versionLibrary, "GetFileVersionInfoSizeA");
  auto ansiInfo = procAddress<decltype(&::GetFileVersionInfoA)>(versionLibrary, "GetFileVersionInfoA");
  if (!ansiSize || !ansiInfo) return {};
  std::string ansi = toAnsiText(path);
  DWORD size = ansiSize(ansi.c_str(), &handle);
  if (size == 0) return {};
  std::vector<char> buffer(size);
  return ansiInfo(ansi.c_str(), 0, size, buffer.data()) ? buffer : std::vector<char>();
}

// --- files and folders by handle --------------------------------------------

// Not declared by the SDK headers of the cross compiler: the documented
// signature, NTAPI like every ntdll entry.  Only its type is used (looked up
// at run time, never imported).
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, int,
                                               BOOLEAN, PUNICODE_STRING, BOOLEAN);

namespace {

constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003L);
constexpr NTSTATUS kStatusCannotDelete = static_cast<NTSTATUS>(0xC0000121L);
constexpr ULONG kFileCreate = 2;  // NtCreateFile dispositions
constexpr ULONG kFileOpen = 1;
constexpr int kFileBothDirectoryInformation = 3;
constexpr int kFileIdBothDirectoryInformation = 37;


HMODULE ntdll() { return relativeCallsAvailable() ? GetModuleHandleA("ntdll.dll") : nullptr; }
#define NTDLL(name) procAddress<decltype(&::name)>(ntdll(), #name)

// The status as the Win32 code GetLastError reports.
void setLastStatus(NTSTATUS status) {
  auto convert = NTDLL(RtlNtStatusToDosError);
  SetLastError(convert ? convert(status) : ERROR_GEN_FAILURE);
}

// A name inside a folder, as the native calls take it.
struct NativeName {
  std::wstring text;
  UNICODE_STRING string{};
  explicit NativeName(const std::string& name) : text(toWideText(name)) {
    string.Buffer = text.data();
    string.Length = string.MaximumLength = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  }
};

// Appends the entries of one buffer of a directory query.  FileIdBoth and
// FileBoth share their layout up to the short name; only the first carries
// the id.
template <typename Info>
void takeEntries(const char* buffer, std::vector<HandleEntry>& entries) {
  for (const char* at = buffer;;) {
    const auto* info = reinterpret_cast<const Info*>(at);
    std::string name = fromWideText(info->FileName, info->FileNameLength / sizeof(wchar_t));
    if (name != "." && name != "..") {
      HandleEntry e;
      e.name = std::move(name);
      e.attributes = info->FileAttributes;
      if constexpr (std::is_same_v<Info, FILE_ID_BOTH_DIR_INFORMATION>)
        e.id = static_cast<std::uint64_t>(info->FileId.QuadPart);
      entries.push_back(std::move(e));
    }
    if (info->NextEntryOffset == 0) return;
    at += info->NextEntryOffset;
  }
}

}  // namespace

bool relativeCallsAvailable() { return wideCallsAvailable(); }

HANDLE winOpenNoFollow(const std::string& path, DWORD access, DWORD share) {
  return winCreateFile(path, access, share, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

HANDLE winOpenRelative(HANDLE folder, const std::string& name, DWORD access, DWORD share, bool createFolder,
                       PSECURITY_DESCRIPTOR security) {
  auto create = NTDLL(NtCreateFile);
  if (createFolder && !report(FileOperation::Kind::MakeFolder, name)) return INVALID_HANDLE_VALUE;
  if (!create) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
  }
  NativeName native(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &native.string, OBJ_CASE_INSENSITIVE, folder, security);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
  if (createFolder) options |= FILE_DIRECTORY_FILE;
  NTSTATUS status = create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                           createFolder ? kFileCreate : kFileOpen, options, nullptr, 0);
  if (status < 0) {
    setLastStatus(status);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

bool winListFolder(HANDLE folder, std::vector<HandleEntry>& entries) {
  auto query = NTDLL(NtQueryDirectoryFile);
  if (!query) return false;
  // Aligned for the records' 64-bit fields.
  std::vector<std::uint64_t> buffer(8192);
  int infoClass = kFileIdBothDirectoryInformation;
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK io{};
    NTSTATUS status = query(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                            static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)), infoClass, FALSE, nullptr,
                            restart);
    if (status == kStatusInvalidInfoClass && infoClass == kFileIdBothDirectoryInformation && restart) {
      infoClass = kFileBothDirectoryInformation;  // before Windows XP: no ids
      restart = TRUE;
      status = query(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                     static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)), infoClass, FALSE, nullptr, TRUE);
    }
    if (status == kStatusNoMoreFiles) return true;
    if (status < 0 || status == kStatusBufferOverflow) {
      setLastStatus(status);
      return false;
    }
    const char* data = reinterpret_cast<const char*>(buffer.data());
    if (infoClass == kFileIdBothDirectoryInformation)
      takeEntries<FILE_ID_BOTH_DIR_INFORMATION>(data, entries);
    else
      takeEntries<FILE_BOTH_DIR_INFORMATION>(data, entries);
  }
}

bool winHandleFacts(HANDLE handle, HandleFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  facts.attributes = info.dwFileAttributes;
  facts.id = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  facts.links = info.nNumberOfLinks;
  return true;
}

bool winDeleteByHandle(HANDLE handle, const std::string& path) {
  if (!report(FileOperation::Kind::Delete, path)) return false;
  auto set = NTDLL(NtSetInformationFile);
  if (!set) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  FILE_DISPOSITION_INFORMATION dispose{TRUE};
  IO_STATUS_BLOCK io{};
  NTSTATUS status = set(handle, &io, &dispose, sizeof dispose, FileDispositionInformation);
  if (status == kStatusCannotDelete) {
    // Read-only: cleared through the same handle, then asked again.
    FILE_BASIC_INFORMATION basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // zero times: unchanged
    if (set(handle, &io, &basic, sizeof basic, FileBasicInformation) >= 0)
      status = set(handle, &io, &dispose, sizeof dispose, FileDispositionInformation);
  }
  if (status < 0) {
    setLastStatus(status);
    return false;
  }
  return true;
}

std::string winFinalPath(HANDLE handle) {
  auto fn = WIDE(kKernel, GetFinalPathNameByHandleW);
  if (!fn) return std::string();
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD n = fn(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = fn(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (n == 0 || n >= buffer.size()) return std::string();
  std::wstring path(buffer.data(), n);
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
    path = L"\\\\" + path.substr(8);
  else if (path.rfind(L"\\\\?\\", 0) == 0)
    path = path.substr(4);
  return fromWideText(path.data(), path.size());
}

std::string winSystemWindowsDirectory() {
  if (auto fn = WIDE(kKernel, GetSystemWindowsDirectoryW)) {
    wchar_t buffer[MAX_PATH + 1];
    UINT n = fn(buffer, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH) return fromWideText(buffer, n);
  }
  // Before Windows 2000 (and on 95, 98 and ME) the one Windows folder.
  if (auto fn = WIDE(kKernel, GetWindowsDirectoryW)) {
    wchar_t buffer[MAX_PATH + 1];
    UINT n = fn(buffer, MAX_PATH + 1);
    return n > 0 && n <= MAX_PATH ? fromWideText(buffer, n) : std::string();
  }
  char buffer[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
  return n > 0 && n <= MAX_PATH ? fromAnsiText(buffer, n) : std::string();
}

LONG winRegCreateKey(HKEY root, const std::string& path, REGSAM access, HKEY* key) {
  if (auto fn = WIDE(kAdvapi, RegCreateKeyExW))
    return fn(root, toWideText(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key, nullptr);
  return RegCreateKeyExA(root, toAnsiText(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key,
                         nullptr);
}

LONG winRegOpenKey(HKEY root, const std::string& path, REGSAM access, HKEY* key) {
  if (auto fn = WIDE(kAdvapi, RegOpenKeyExW)) return fn(root, toWideText(path).c_str(), 0, access, key);
  return RegOpenKeyExA(root, toAnsiText(path).c_str(), 0, access, key);
}

LONG winRegSetString(HKEY key, const char* valueName, const std::string& text) {
  if (auto fn = WIDE(kAdvapi, RegSetValueExW)) {
    std::wstring name = toWideText(valueName ? valueName : "");
    std::wstring wide = toWideText(text);
    return fn(key, wideOrNull(name, valueName), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
              static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  }
  std::string ansi = toAnsiText(text);
  return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi.c_str()),
                        static_cast<DWORD>(ansi.size() + 1));
}

LONG winRegQueryString(HKEY key, const char* valueName, std::string& text) {
  text.clear();
  DWORD type = 0, size = 0;
  if (auto fn = WIDE(kAdvapi, RegQueryValueExW)) {
    std::wstring name = toWideText(valueName ? valueName : "");
    const wchar_t* n = wideOrNull(name, valueName);
    if (LONG rc = fn(key, n, nullptr, &type, nullptr, &size)) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    // The stored text need not end in NUL: room for one more character.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (LONG rc = fn(key, n, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size)) return rc;
    text = fromWideText(buffer.data(), wcslen(buffer.data()));
    return ERROR_SUCCESS;
  }
  if (LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size)) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  std::vector<char> buffer(size + 2, '\0');
  if (LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size))
    return rc;
  text = fromAnsiText(buffer.data(), strlen(buffer.data()));
  return ERROR_SUCCESS;
}

LONG winRegDeleteValue(HKEY key, const char* valueName) {
  if (auto fn = WIDE(kAdvapi, RegDeleteValueW)) return fn(key, toWideText(valueName).c_str());
  return RegDeleteValueA(key, valueName);
}

LONG winRegDeleteKey(HKEY root, const std::string& path) {
  if (auto fn = WIDE(kAdvapi, RegDeleteKeyW)) return fn(root, toWideText(path).c_str());
  return RegDeleteKeyA(root, toAnsiText(path).c_str());
}

INT_PTR winShellExecute(HWND owner, const std::string& file, const char* parameters, int show) {
  if (auto fn = WIDE(kShell, ShellExecuteW)) {
    std::wstring params = toWideText(parameters ? parameters : "");
    return reinterpret_cast<INT_PTR>(
        fn(owner, nullptr, toWideText(file).c_str(), wideOrNull(params, parameters), nullptr, show));
  }
  return reinterpret_cast<INT_PTR>(ShellExecuteA(owner, nullptr, toAnsiText(file).c_str(), parameters, nullptr, show));
}

int winMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
  if (auto fn = WIDE(kUser, MessageBoxW)) return fn(owner, toWideText(text).c_str(), toWideText(title).c_str(), type);
  return MessageBoxA(owner, toAnsiText(text).c_str(), toAnsiText(title).c_str(), type);
}

void winSetWindowText(HWND window, const std::string& text) {
  if (auto fn = WIDE(kUser, SetWindowTextW)) {
    fn(window, toWideText(text).c_str());
    return;
  }
  SetWindowTextA(window, toAnsiText(text).c_str());
}

std::string winGetWindowText(HWND window) {
  if (auto fn = WIDE(kUser, GetWindowTextW)) {
    wchar_t buffer[1024] = {};
    int n = fn(window, buffer, 1024);
    return fromWideText(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  char buffer[1024] = {};
  int n = GetWindowTextA(window, buffer, sizeof buffer);
  return fromAnsiText(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

int winDrawText(HDC dc, const std::string& text, RECT& rect, UINT format) {
  if (auto fn = WIDE(kUser, DrawTextW)) {
    std::wstring wide = toWideText(text);
    return fn(dc, wide.c_str(), static_cast<int>(wide.size()), &rect, format);
  }
  std::string ansi = toAnsiText(text);
  return DrawTextA(dc, ansi.c_str(), static_cast<int>(ansi.size()), &rect, format);
}

HWND winFindWindow(const std::string& title) {
  if (auto fn = WIDE(kUser, FindWindowW)) return fn(nullptr, toWideText(title).c_str());
  return FindWindowA(nullptr, toAnsiText(title).c_str());
}

HANDLE winLoadImageFile(const std::string& path, UINT type, UINT flags) {
  if (auto fn = WIDE(kUser, LoadImageW)) return fn(nullptr, toWideText(path).c_str(), type, 0, 0, flags | LR_LOADFROMFILE);
  return LoadImageA(nullptr, toAnsiText(path).c_str(), type, 0, 0, flags | LR_LOADFROMFILE);
}
