// Per-test folders and file helpers for the Windows tests.
#include "tests/win/support/folder_fixture.h"

#include <algorithm>
#include <cstdio>

#include "base/crc32.h"
#include "system/handles_win32.h"
#include "system/saver_folder_win32.h"

namespace winfs {

namespace {

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

std::string parentOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool removeTreeOnce(const std::string& folder) {
  std::string base = withoutTrailingSlash(folder) + "\\";
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA((base + "*").c_str(), &fd));
  bool ok = true;
  if (find) {
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = base + name;
      // A link is never entered (Wine would delete what it points at); the
      // test that made it removes it.
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        ok = false;
        continue;
      }
      SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        ok = removeTreeOnce(full) && ok;
      else
        ok = DeleteFileA(full.c_str()) && ok;
    } while (FindNextFileA(find.get(), &fd));
  }
  find.reset();
  SetFileAttributesA(withoutTrailingSlash(folder).c_str(), FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryA(withoutTrailingSlash(folder).c_str()) && ok;
}

}  // namespace

std::string systemCopyOf(const std::string& file, const std::string& relative) {
  char folder[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  std::string copy = std::string(folder, n) + "\\" + relative;
  if (readFile(copy) != readFile(file)) {
    makeFolders(parentOf(copy));
    CopyFileA(file.c_str(), copy.c_str(), FALSE);
  }
  return copy;
}

bool makeFolders(const std::string& path) {
  std::string p = withoutTrailingSlash(path);
  if (p.empty() || isFolder(p)) return true;
  std::string parent = parentOf(p);
  if (!parent.empty() && parent.size() < p.size() && parent.back() != ':' && !makeFolders(parent)) return false;
  return CreateDirectoryA(p.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool writeFile(const std::string& path, const Bytes& data) {
  std::string parent = parentOf(path);
  if (!parent.empty() && !makeFolders(parent)) return false;
  UniqueFile f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(f.get(), data.data() + done, chunk, &written, nullptr) || written != chunk) return false;
    done += written;
  }
  return true;
}

bool writeFile(const std::string& path, const std::string& data) {
  return writeFile(path, Bytes(data.begin(), data.end()));
}

Bytes readFile(const std::string& path) {
  UniqueFile f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return {};
  Bytes out;
  std::uint8_t buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

std::string readText(const std::string& path) {
  Bytes b = readFile(path);
  return std::string(b.begin(), b.end());
}

bool exists(const std::string& path) {
  return GetFileAttributesA(withoutTrailingSlash(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::string& path) {
  DWORD a = GetFileAttributesA(withoutTrailingSlash(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::int64_t fileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool removeTree(const std::string& path) {
  if (!exists(path)) return true;
  if (!isFolder(path)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != FALSE;
  }
  for (int attempt = 0; attempt < 25; ++attempt) {
    if (removeTreeOnce(path) || !exists(path)) return true;
    Sleep(20);
  }
  return false;
}

bool setReadOnly(const std::string& path, bool readOnly) {
  DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  a = readOnly ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  return SetFileAttributesA(path.c_str(), a) != FALSE;
}

std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA((withoutTrailingSlash(folder) + "\\*").c_str(), &fd));
  if (!find) return names;
  do {
    std::string name = fd.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find.get(), &fd));
  std::sort(names.begin(), names.end());
  return names;
}

std::string hostPath(const std::string& unixPath) {
  std::string out = "Z:";
  for (char ch : unixPath) out += ch == '/' ? '\\' : ch;
  return out;
}

std::string tempFolder() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetTempPathA(sizeof buffer, buffer);
  std::string path(buffer, n < sizeof buffer ? n : 0);
  if (path.empty()) path = "C:\\windows\\temp\\";
  if (path.back() != '\\') path += '\\';
  return path;
}

std::string fingerprint(const std::string& path) {
  std::string bare = path;
  while (!bare.empty() && bare.back() == '\\') bare.pop_back();
  DWORD attributes = GetFileAttributesA(bare.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "-";
  std::string out = std::to_string(attributes & ~FILE_ATTRIBUTE_ARCHIVE) + ":";
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Bytes data = readFile(bare);
    return out + std::to_string(data.size()) + ":" + std::to_string(crc32(data.data(), data.size()));
  }
  for (const std::string& name : listFolder(bare + "\\")) {
    out += name;
    out += '{';
    out += fingerprint(bare + "\\" + name);
    out += '}';
  }
  return out;
}

UniqueFile holdOpen(const std::string& path) {
  return UniqueFile(
      CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace winfs

void FolderFixture::SetUp() {
  // Unique per process and per test: the process id, the tick count and a
  // counter (tests of one run follow each other within the same tick).
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "wt%lu_%lu_%u\\", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()), ++counter);
    root_ = winfs::tempFolder() + name;
    if (CreateDirectoryA(root_.c_str(), nullptr)) break;
    root_.clear();
  }
  ASSERT_FALSE(root_.empty()) << "cannot create a test folder under " << winfs::tempFolder();
  system_ = root_ + "system\\";
  common_ = root_ + "common\\";
  localAppData_ = root_ + "localappdata\\";
  work_ = root_ + "work\\";
  for (const std::string* dir : {&system_, &common_, &localAppData_, &work_})
    ASSERT_TRUE(winfs::makeFolders(*dir)) << *dir;
}

void FolderFixture::TearDown() {
  if (root_.empty()) return;
  releaseCommonFolder();  // a test's installs hold its common folder, as a run holds the real one
  // A leftover tree is reported, not failed: the test's own checks decide.
  if (!winfs::removeTree(root_)) std::fprintf(stderr, "warning: could not remove %s\n", root_.c_str());
}
