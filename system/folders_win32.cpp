// Folders and files (declared in system/folders_win32.h).
#include "system/folders_win32.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "base/application_win32.h"
#include "base/process_state.h"
#include "system/access_win32.h"
#include "system/handles_win32.h"
#include "system/system_library_win32.h"
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

std::string environmentValue(const char* name) { return winEnvironmentVariable(name); }

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

std::string getWindowsFolder() { return withTrailingBackslash(environmentValue("WINDIR")); }

std::string getSystemFolder() {
  return withTrailingBackslash(winSystemDirectory());
}

std::string getSysnativeFolder() {
  // A 32-bit process on 64-bit Windows reaches the native system folder only
  // through this alias; elsewhere the folder does not exist and is not read.
  std::string root = environmentValue("SystemRoot");
  if (root.empty()) {
    // Without the variable the system still knows its folder; an empty root
    // would make the alias a relative path ("Sysnative\\").
    char buffer[MAX_PATH + 1] = {};
    UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return std::string();
    root.assign(buffer, n);
  }
  return withTrailingBackslash(root) + "Sysnative\\";
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

ErrorCode createWorkFolderIn(const std::string& baseFolder, const std::string& prefix,
                             std::string& folder) {
  std::string base = withTrailingBackslash(baseFolder);
  // A junction or link would send the elevated installer's files wherever
  // its maker points it.
  if (isReparsePoint(apiFolderPath(base))) return errLinkedWorkFolder;
  // A failure here is not reported by itself: every candidate then fails.
  if (!folderExists(base)) createPrivateFolder(apiFolderPath(base));
  DWORD lastError = 0;
  for (int n = 1; n <= kWorkFolderCandidates; ++n) {
    std::string candidate = base + prefix + std::to_string(n);
    // Any entry of that name, file or folder, belongs to someone else.
    if (winGetFileAttributes(candidate) != INVALID_FILE_ATTRIBUTES) continue;
    if (createPrivateFolder(candidate)) {
      folder = candidate + "\\";
      return errOk;
    }
    lastError = GetLastError();  // another run may have taken it meanwhile: go on
  }
  return lastError != 0 ? static_cast<ErrorCode>(lastError) : errNoWorkFolder;
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
  // Without the backslash the pattern below would match the folder's siblings.
  const std::string folder = withTrailingBackslash(folderText);
  const std::string bare = apiFolderPath(folder);
  DWORD attributes = winGetFileAttributes(bare);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return errOk;
  // A junction or symbolic link is removed as a link: walking into it would
  // delete files elsewhere (someone may have planted one into our folders).
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return winRemoveDirectory(bare) ? errOk : errUnspecified;

  // A file that cannot be deleted (held open by another program) does not
  // stop the walk: the clean-up of a failed install must still remove every
  // other file it wrote.  The first such file's code is the result.
  ErrorCode error = errOk;
  FolderListing listing;
  if (listing.first(folder + "*.*")) {
    do {
      const std::string& name = listing.entry().name;
      if (listing.entry().attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (name == "." || name == "..") continue;
        // Not examined: a subfolder that stays makes the removal below fail.
        deleteFolderTree(folder + name + "\\");
      } else if (ErrorCode e = deleteFileForced(folder + name); e != errOk && error == errOk) {
        error = e;
      }
    } while (listing.next());
  }
  listing = FolderListing();
  if (error != errOk) return error;
  if (!folderExists(folder)) return errOk;
  winSetFileAttributes(bare, FILE_ATTRIBUTE_NORMAL);
  return winRemoveDirectory(bare) ? errOk : errUnspecified;
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
  // CopyFile carries the source's attributes over, and a read-only
  // destination refuses to be replaced: both are cleared first.
  if (fileExists(src)) winSetFileAttributes(src, FILE_ATTRIBUTE_NORMAL);
  std::string folder = folderPart(dst);
  if (folder.empty() || folderExists(folder)) {
    if (fileExists(dst)) winSetFileAttributes(dst, FILE_ATTRIBUTE_NORMAL);
  } else {
    createFolderPath(folder);
  }
  return winCopyFile(src, dst, failIfExists);
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
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    winCreateDirectory(*it);  // failures show when the folder is used
}
