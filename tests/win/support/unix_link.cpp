// Unix links made from the Windows side (declared in unix_link.h).
#include "tests/win/support/unix_link.h"

#include <windows.h>

#include "tests/fixtures/fixture_args.h"

namespace winfs {

namespace {

using UnixFileNameFn = char*(CDECL*)(LPCWSTR);

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string withoutTrailingBackslash(std::string path) {
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

// Without a trailing backslash, which would look through the link.
DWORD attributesOf(const std::string& path) { return GetFileAttributesA(withoutTrailingBackslash(path).c_str()); }

// Whether the folder still lists the name (a link whose target is gone has
// no attributes of its own under Wine, but is still listed).
bool listed(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(withoutTrailingBackslash(path).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

}  // namespace

bool runUnixProgram(const std::string& commandLine, const std::function<bool()>& done) {
  std::string command = commandLine;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hProcess);  // Wine's handle of a Unix process does not wait for it
  CloseHandle(pi.hThread);
  const DWORD limit = fixture::scaled(60000), start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit) return false;
    Sleep(10);
  }
  return true;
}

std::string unixPath(const std::string& windowsPathText) {
  std::string windowsPath = withoutTrailingBackslash(windowsPathText);
  auto toUnix = reinterpret_cast<UnixFileNameFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  std::wstring wide(windowsPath.begin(), windowsPath.end());
  char* name = toUnix(wide.c_str());
  if (!name) return std::string();
  std::string result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool makeUnixLink(const std::string& link, const std::string& target) {
  std::string from = unixPath(link), to = unixPath(target);
  if (from.empty() || to.empty()) return false;
  return runUnixProgram("/bin/ln -s " + quoted(to) + " " + quoted(from), [&] {
    DWORD a = attributesOf(link);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
  });
}

bool removeUnixLink(const std::string& link) {
  std::string path = unixPath(link);
  if (path.empty()) return false;
  return runUnixProgram("/bin/rm -f " + quoted(path), [&] { return !listed(link); });
}

}  // namespace winfs
