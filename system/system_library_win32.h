// Loading libraries safely.  The installer runs elevated, often from a
// download folder: a library of a well-known name planted there would be
// loaded by the default search order.  So only known system libraries are
// imported statically; every other one is loaded here by its full path in
// the system folder.
#pragma once

#include <windows.h>

#include <string>
#include <type_traits>

// Restricts the search path of later loads to the system folder where the
// system offers that (SetDefaultDllDirectories, looked up at run time),
// removes the current folder from it (SetDllDirectoryA("")), and loads from
// the system folder the companions system libraries load by bare name.
void restrictLibrarySearch();

// Loads GetSystemDirectory + "\" + name, its imports searched from there
// first (LOAD_WITH_ALTERED_SEARCH_PATH); nullptr when that fails.
HMODULE loadSystemLibrary(const char* name);

// The function `name` exported by `module` (nullptr if either is missing),
// as Fn.  Take Fn from the SDK's declaration, decltype(&::IsWow64Process),
// never a type written out by hand: one that lacks WINAPI still compiles
// (no GCC warning sees a cast between calling conventions) and on i686
// calls the function as cdecl, so the stack is popped twice.  decltype
// does not import the function.
template <typename Fn>
Fn procAddress(HMODULE module, const char* name) {
  static_assert(std::is_pointer_v<Fn> && std::is_function_v<std::remove_pointer_t<Fn>>);
  if (!module) return nullptr;
  // Through void*: FARPROC takes no arguments, and a direct cast between
  // function types of different parameters is what -Wcast-function-type flags.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The system folder without a trailing backslash.
std::string systemDirectory();
