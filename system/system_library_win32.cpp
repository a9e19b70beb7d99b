// Why full paths: see the header.
#include "system/system_library_win32.h"

#include "system/win_text_win32.h"

std::string systemDirectory() {
  std::string dir = winSystemDirectory();
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir;
}

HMODULE loadSystemLibrary(const char* name) {
  std::string dir = systemDirectory();
  if (dir.empty()) return nullptr;
  std::string path = dir + "\\" + name;
  // The library's own imports are then looked for in its folder first, not
  // beside the installer: systems before Windows 7 know no other way to
  // keep them out of the program's folder.
  return winLoadLibraryEx(path, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void restrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  // Both exist only on newer systems (Windows 7 with KB2533623 / XP SP1).
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (auto f = procAddress<decltype(&::SetDefaultDllDirectories)>(kernel, "SetDefaultDllDirectories"))
    f(kSearchSystem32);
  if (auto f = procAddress<decltype(&::SetDllDirectoryA)>(kernel, "SetDllDirectoryA")) f("");
  // System libraries load some companions by bare name at run time, which
  // goes through the program's folder first (Wine's comctl32 delay-loads the
  // theme library that way, past SetDefaultDllDirectories).  Loaded from the
  // system folder now, a later request by name finds the loaded copy.  Kept
  // for the life of the process; missing on old systems, which is fine.
  for (const char* companion : {"uxtheme.dll"}) loadSystemLibrary(companion);
}
