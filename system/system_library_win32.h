// Loading libraries safely.  The installer runs elevated, often from a
// download folder: a library of a well-known name planted there would be
// loaded by the default search order.  So only known system libraries are
// imported statically; every other one is loaded here by its full path in
// the system folder.
#pragma once

#include <windows.h>

#include <string>

// Restricts the search path of later loads to the system folder where the
// system offers that (SetDefaultDllDirectories, looked up at run time),
// removes the current folder from it (SetDllDirectoryA("")), and loads from
// the system folder the companions system libraries load by bare name.
void restrictLibrarySearch();

// Loads GetSystemDirectory + "\" + name, its imports searched from there
// first (LOAD_WITH_ALTERED_SEARCH_PATH); nullptr when that fails.
HMODULE loadSystemLibrary(const char* name);

// The system folder without a trailing backslash.
std::string systemDirectory();
