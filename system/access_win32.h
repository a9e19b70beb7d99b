// Access lists for the folders the installer works in.  Elevated, the
// installer must not read back what a program of the unelevated user could
// have changed: its work folders get a protected list that only
// Administrators and SYSTEM may write, inherited by everything inside.
#pragma once

#include <windows.h>

#include <string>

// Full control for SYSTEM and Administrators, inherited by files and
// folders, nothing inherited from the parent (the "P").
constexpr const char* kAdminOnlyFolderSddl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// True when the process token is a member of the Administrators group
// (CheckTokenMembership, looked up at run time: Windows 95 and NT 4 lack
// it, and then the answer is false).
bool processIsAdministrator();

// The security attributes a private folder is created with: the
// administrators-only list when the process is an administrator and the
// system has access control, otherwise none (the inherited list).
class PrivateFolderSecurity {
public:
  PrivateFolderSecurity();
  ~PrivateFolderSecurity();
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

  // nullptr when the folder gets the inherited list.
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;  // LocalAlloc'ed by the system
  SECURITY_ATTRIBUTES attributes_{};
};

// Creates one folder with the private list (see PrivateFolderSecurity).
// Returns what CreateDirectory returned; GetLastError tells why it failed.
BOOL createPrivateFolder(const std::string& path);

// True when the path names a junction, symbolic link or other reparse point.
bool isReparsePoint(const std::string& path);

// Test seam: every createPrivateFolder call goes through this function,
// which tests replace to see the security attributes passed.
using CreateFolderFunction = BOOL (*)(const std::string& path, SECURITY_ATTRIBUTES* attributes);
CreateFolderFunction setCreateFolderFunction(CreateFolderFunction function);

// The access list of a security descriptor as SDDL ("" when the system
// cannot say): lets tests compare what was passed with kAdminOnlyFolderSddl.
std::string descriptorAccessList(PSECURITY_DESCRIPTOR descriptor);
