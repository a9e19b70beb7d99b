// The Win32 half of the operating-system query: asks GetVersionExA and
// IsWow64Process and classifies the answers with system/os_version.h.
#pragma once

#include <windows.h>

#include <stdexcept>

#include "system/os_version.h"

// IsWow64Process exists but failed for the process asked about.
class OsQueryError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Whether the current process is a 32-bit process on 64-bit Windows.  False
// where IsWow64Process does not exist (Windows 95 to 2000, XP before SP2).
// Throws OsQueryError("Bad process handle") when the call fails.
bool isWow64();
// The same for any process handle (tests pass a bad one).
bool isWow64Process(HANDLE process);

// GetVersionExA with the 148-byte OSVERSIONINFOA; queryOk false on failure.
VersionRecord queryVersionRecord();

// The operating-system code (kOs64Bit first, then by version; kOsUnknown for
// anything unlisted).  May throw OsQueryError through isWow64().
int GetOperatingSystem();

// The per-version flags of the running Windows; all false on a failed query.
WindowsVersionFlags getWindowsVersionFlags();
