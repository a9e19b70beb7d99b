// Folders and files (declared in system/folders_win32.h).
#include "system/folders_win32.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "base/application_win32.h"
#include "base/process_state.h"
#include "system/access_win32.h"
#include "system/file_stream_win32.h"
#include "system/handles_win32.h"
#include "system/system_library_win32.h"
#include "system/tree_removal_win32.h"
#include "system/win_text_win32.h"

namespace {

constexpr int kWorkFolderCandidates = 1000;
constexpr const char* kMakerFolder = "Brindlefax\\";

// The last path separator.  Paths are UTF-8, where the byte 0x5C is always
// the backslash itself.
std::size_t lastBackslash(const std::string& s) { return s.rfind('\\'); }

bool endsWithBackslash(const std::string& s) {
  return !s.empty() && lastBackslash(s) == s.size() - 1;
}

// A folder path as the attribute and directory calls want it: without its
// trailing backslash, except for a drive root ("C:\") and the root ("\").
std::string apiFolderPath(const std::string& folder) {
  if (!endsWithBackslash(folder) || folder.size() == 1) return folder;
  std::string bare = folder.substr(0, folder.size() - 1);
  if (!bare.empty() && bare.back() == ':') return folder;
  return bare;
}

// Everything up to and including the last backslash; empty without one.
std::string folderPart(const std::string& path) {
  std::size_t cut = lastBackslash(path);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// SHGetFolderPath from SHFolder.dll, which older shells lack as a built-in.
std::string shFolderPath(HWND owner, int csidl) {
  UniqueModule library(loadSystemLibrary("shfolder.dll"));
  return winShFolderPath(library.get(), owner, csidl);
}

// One deletion with the attribute reset; true when the file is gone.
bool deleteOnce(const std::string& path) {
  if (!fileExists(path)) return true;
  if (winDeleteFile(path)) return true;
  // Read-only (also hidden or system on some systems) refuses deletion.
  winSetFileAttributes(path, FILE_ATTRIBUTE_NORMAL);
  return winDeleteFile(path);
}

bool hasScrExtension(const std::string& path) {
  std::size_t dot = path.find_last_of('.');
  std::size_t slash = lastBackslash(path);
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return ext == ".scr";
}

}  // namespace

std::string withTrailingBackslash(const std::string& folder) {
  if (folder.empty() || endsWithBackslash(folder)) return folder;
  return folder + "\\";
}

// The system's own answer, not %WINDIR%: the environment is the user's, and
// an elevated run inherits what HKCU\Environment sets.
std::string getWindowsFolder() { return withTrailingBackslash(winSystemWindowsDirectory()); }

std::string getSystemFolder() {
  return withTrailingBackslash(winSystemDirectory());
}

std::string getSysnativeFolder() {
  // A 32-bit process on 64-bit Windows reaches the native system folder only
  // through this alias; elsewhere the folder does not exist and is not read.
  std::string root = winSystemWindowsDirectory();
  return root.empty() ? std::string() : withTrailingBackslash(root) + "Sysnative\\";
}

std::string getSpecialFolder(int csidl) {
  HWND owner = Application::instance().mainWindow();
  LPITEMIDLIST list = nullptr;
  HRESULT hr = SHGetSpecialFolderLocation(owner, csidl, &list);
  if (SUCCEEDED(hr) && list) {
    std::string result = winPathFromIdList(list);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
      allocator->Free(list);
      allocator->Release();
    }
    return result;
  }
  // Shells before Windows 2000 and ME know neither application data folder
  // of the installer (local, common); SHFolder.dll supplies them there.
  if (csidl == CSIDL_APPDATA || csidl == CSIDL_PERSONAL || csidl == CSIDL_LOCAL_APPDATA ||
      csidl == CSIDL_COMMON_APPDATA)
    return shFolderPath(owner, csidl);
  return std::string();
}

ErrorCode initInstallerFolders(const std::string& installerPath) {
  InstallerFolders& f = processState().folders;
  f.windowsFolder = getWindowsFolder();
  f.systemFolder = getSystemFolder();
  f.sysnativeFolder = getSysnativeFolder();
  std::string common = getSpecialFolder(CSIDL_COMMON_APPDATA);
  f.commonFolder = common.empty() ? std::string() : withTrailingBackslash(common) + kMakerFolder;
  f.exeFolder = folderPart(installerPath);
  if (f.systemFolder.empty() || f.commonFolder.empty()) return errNoFolder;
  return createWorkFolder("ZNK", f.workFolder);
}

ErrorCode createWorkFolder(const std::string& prefix, std::string& folder) {
  std::string local = getSpecialFolder(CSIDL_LOCAL_APPDATA);
  if (local.empty()) return errNoFolder;
  return createWorkFolderIn(withTrailingBackslash(local) + kMakerFolder, prefix, folder);
}

namespace {

// A work folder and its base, held open from the folder's creation to its
// deletion without sharing deletion: neither can be renamed or replaced
// meanwhile, and no folder above them either (Windows refuses to rename a
// folder while something inside it is open).
struct HeldWorkFolder {
  std::string path;  // with a trailing backslash
  UniqueFile base;
  UniqueFile folder;
};

std::vector<HeldWorkFolder>& heldWorkFolders() {
  static std::vector<HeldWorkFolder> held;
  return held;
}

constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Creates the first free candidate inside the held base, opened by the same
// call that creates it (nothing can be put in its place in between).
ErrorCode createHeld(HANDLE base, const std::string& basePath, const std::string& prefix, std::string& folder) {
  DWORD lastError = 0;
  PrivateFolderSecurity security;
  for (int n = 1; n <= kWorkFolderCandidates; ++n) {
    std::string name = prefix + std::to_string(n);
    // Any entry of that name, file or folder, belongs to someone else.
    if (winGetFileAttributes(basePath + name) != INVALID_FILE_ATTRIBUTES) continue;
    // Without the right to delete it: a listing inside (Wine's opens its
    // folder without sharing deletion) would otherwise be refused.
    UniqueFile held(winOpenRelative(base, name,
                                    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                                        FILE_READ_ATTRIBUTES,
                                    kHoldSharing, true, security.descriptor()));
    if (!held) {
      lastError = GetLastError();  // another run may have taken it meanwhile: go on
      continue;
    }
    reportFolderCreated(basePath + name, security.descriptor());
    // Later paths name the folder as the system resolved it: no link on
    // the way, and none can appear while the folder is held.
    std::string resolved = winFinalPath(held.get());
    folder = withTrailingBackslash(resolved.empty() ? basePath + name : resolved);
    heldWorkFolders().push_back({folder, UniqueFile(), std::move(held)});
    return errOk;
  }
  return lastError != 0 ? static_cast<ErrorCode>(lastError) : errNoWorkFolder;
}

}  // namespace

ErrorCode createWorkFolderIn(const std::string& baseFolder, const std::string& prefix,
                             std::string& folder) {
  std::string base = withTrailingBackslash(baseFolder);
  // A junction or link would send the elevated installer's files wherever
  // its maker points it.
  if (isReparsePoint(apiFolderPath(base))) return errLinkedWorkFolder;
  // A failure here is not reported by itself: every candidate then fails.
  if (!folderExists(base)) createPrivateFolder(apiFolderPath(base));
  if (relativeCallsAvailable()) {
    UniqueFile held(winOpenNoFollow(apiFolderPath(base), FILE_LIST_DIRECTORY | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                                                             FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    kHoldSharing));
    if (!held) return lastErrorCode();
    HandleFacts facts;
    if (!winHandleFacts(held.get(), facts) || (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(facts.attributes & FILE_ATTRIBUTE_DIRECTORY))
      return errLinkedWorkFolder;
    ErrorCode result = createHeld(held.get(), base, prefix, folder);
    if (result == errOk) heldWorkFolders().back().base = std::move(held);
    return result;
  }
  // Windows 95, 98 and ME: no links, no access lists, nothing to hold.
  DWORD lastError = 0;
  for (int n = 1; n <= kWorkFolderCandidates; ++n) {
    std::string candidate = base + prefix + std::to_string(n);
    if (winGetFileAttributes(candidate) != INVALID_FILE_ATTRIBUTES) continue;
    if (createPrivateFolder(candidate)) {
      folder = candidate + "\\";
      return errOk;
    }
    lastError = GetLastError();
  }
  return lastError != 0 ? static_cast<ErrorCode>(lastError) : errNoWorkFolder;
}

ErrorCode deleteWorkFolder(const std::string& folder) {
  std::vector<HeldWorkFolder>& held = heldWorkFolders();
  for (auto it = held.begin(); it != held.end(); ++it) {
    if (it->path != withTrailingBackslash(folder)) continue;
    // Let go, then deleted as any tree: by handle, never through a link
    // (should one have been put in its place meanwhile, only it goes).
    held.erase(it);
    break;
  }
  return deleteFolderTree(folder);
}

bool fileExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = winGetFileAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = winGetFileAttributes(apiFolderPath(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

ErrorCode deleteFileForced(const std::string& path) {
  return deleteOnce(path) ? errOk : errFileBusy;
}

ErrorCode deleteFileWithRetries(const std::string& path, int attempts) {
  // No pause between attempts: they cover a file another process is about
  // to release, such as a library still being unloaded.
  ErrorCode result = errUnspecified;
  for (; attempts > 0 && result != errOk; --attempts) {
    if (deleteOnce(path))
      result = errOk;
    else
      result = hasScrExtension(path) ? errSaverNotReplaceable : errFileBusy;
  }
  return result;
}

ErrorCode deleteFolderTree(const std::string& folderText) {
  if (folderText.empty()) return errUnspecified;
  const std::string bare = apiFolderPath(withTrailingBackslash(folderText));
  DWORD attributes = winGetFileAttributes(bare);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return errOk;
  // A file that cannot be deleted (held open by another program) does not
  // stop the walk: the clean-up of a failed install must still remove every
  // other file it wrote.  The first such file's code is the result.
  RemovalFailure failure;
  if (removeTree(bare, &failure)) return errOk;
  return failure.folder ? errUnspecified : errFileBusy;
}

void myGetFileVersion(const std::string& path, int& major, int& revision) {
  UniqueModule library(loadSystemLibrary("version.dll"));
  auto queryFn = procAddress<decltype(&::VerQueryValueA)>(library.get(), "VerQueryValueA");
  if (!queryFn) return;

  std::vector<char> buffer = winFileVersionInfo(library.get(), path);
  if (buffer.empty()) return;  // no resource, or no such file
  void* value = nullptr;
  UINT length = 0;
  char root[] = "\\";
  if (!queryFn(buffer.data(), root, &value, &length) || !value ||
      length < sizeof(VS_FIXEDFILEINFO))
    return;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  // a.b.c.d is stored as MS = a:b, LS = c:d; the callers want a and c.
  major = static_cast<int>(HIWORD(fixed->dwFileVersionMS));
  revision = static_cast<int>(HIWORD(fixed->dwFileVersionLS));
}

bool copyFile(const std::string& src, const std::string& dst, bool failIfExists) {
  if (linkOnTheWay(dst)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  // CopyFile carries the source's attributes over, and a read-only
  // destination refuses to be replaced: both are cleared first.
  if (fileExists(src)) winSetFileAttributes(src, FILE_ATTRIBUTE_NORMAL);
  std::string folder = folderPart(dst);
  if (folder.empty() || folderExists(folder)) {
    if (fileExists(dst)) winSetFileAttributes(dst, FILE_ATTRIBUTE_NORMAL);
  } else {
    createFolderPath(folder);
  }
  if (!winCopyFile(src, dst, failIfExists)) return false;
  // A copy is part of the installation: on the disk before the install is
  // committed.
  FileOperation flush;
  flush.kind = FileOperation::Kind::Flush;
  flush.path = dst;
  UniqueFile copy(winCreateFile(dst, GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  return copy && reportFileOperation(flush) && FlushFileBuffers(copy.get());
}

void createFolderPath(const std::string& path) {
  // The path and its missing ancestors, innermost first.  Each parent is
  // strictly shorter, so the walk ends at the top of any path.
  std::vector<std::string> missing;
  std::string current = path;
  while (!current.empty() && !folderExists(current)) {
    missing.push_back(current);
    std::string bare = current;
    if (endsWithBackslash(bare)) bare.pop_back();
    std::size_t cut = lastBackslash(bare);
    if (cut == std::string::npos || cut == 0) break;  // "C:", "\x": nothing above
    current = bare.substr(0, cut + 1);
  }
  // Failures show when the folder is used; nothing is made through a link.
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (!linkOnTheWay(*it)) winCreateDirectory(*it);
}
