// Access lists for the folders the installer works in.  Elevated, the
// installer must not read back what a program of the unelevated user could
// have changed: its work folders get a protected list that only
// Administrators and SYSTEM may write, inherited by everything inside, and
// the folders it shares with the users (the common "Brindlefax" folder,
// each saver's folder, the install journal) one that lets users read but
// only Administrators and SYSTEM change them.
#pragma once

#include <windows.h>

#include <string>

// Full control for SYSTEM and Administrators, inherited by files and
// folders, nothing inherited from the parent (the "P").
constexpr const char* kAdminOnlyFolderSddl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The shared folders: full control for SYSTEM and Administrators, read and
// execute for users (a saver reads its folder as the user), owner
// Administrators, nothing inherited from the parent.
constexpr const char* kSharedFolderSddl = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// True when the process token is a member of the Administrators group
// (CheckTokenMembership, looked up at run time: Windows 95 and NT 4 lack
// it, and then the answer is false).
bool processIsAdministrator();

// True when the process runs elevated under user account control (Windows
// Vista and later, TokenElevationTypeFull): the same person has an
// unelevated token whose programs can reach into this user's profile.
bool processIsElevated();

// The security attributes a private folder is created with: the
// administrators-only list when the process is an administrator and the
// system has access control, otherwise none (the inherited list).
class PrivateFolderSecurity {
public:
  PrivateFolderSecurity();
  ~PrivateFolderSecurity();
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

  // The same for a folder the installer shares with users (kSharedFolderSddl).
  static PrivateFolderSecurity shared();

  // nullptr when the folder gets the inherited list.
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }
  PSECURITY_DESCRIPTOR descriptor() const { return descriptor_; }

  PrivateFolderSecurity(PrivateFolderSecurity&& other) noexcept;

private:
  explicit PrivateFolderSecurity(const char* sddl);
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;  // LocalAlloc'ed by the system
  SECURITY_ATTRIBUTES attributes_{};
};

// Creates one folder with the private list (see PrivateFolderSecurity).
// Returns what CreateDirectory returned; GetLastError tells why it failed.
BOOL createPrivateFolder(const std::string& path);
// The same with the shared list.
BOOL createSharedFolder(const std::string& path);

// True when the path names a junction, symbolic link or other reparse point.
bool isReparsePoint(const std::string& path);

// Test seam: every folder the installer creates with a list of its own
// (createPrivateFolder, createSharedFolder, the work folders) is reported
// here with the descriptor it gets, so tests can see the lists Wine does
// not keep.
using FolderCreatedObserver = void (*)(const std::string& path, PSECURITY_DESCRIPTOR descriptor);
FolderCreatedObserver setFolderCreatedObserver(FolderCreatedObserver observer);
void reportFolderCreated(const std::string& path, PSECURITY_DESCRIPTOR descriptor);

// Who may change an existing file or folder, as its owner and list say.
struct SecurityVerdict {
  bool ownerTrusted = true;     // owned by SYSTEM, Administrators, TrustedInstaller or the system folder's owner
  bool othersMayChange = false; // the list grants another account write, delete or rights over the list
};
// The verdict for an open handle (opened with READ_CONTROL).  Where the
// system keeps no access lists (95, 98, ME) or the process is not an
// administrator (nothing to gain from fooling it), everything is trusted.
SecurityVerdict checkSecurity(HANDLE object);
// Gives an open handle (WRITE_DAC | WRITE_OWNER) the shared list and owner.
bool applySharedSecurity(HANDLE object);
// True when the verdict allows the elevated installer to rely on the object.
inline bool trusted(const SecurityVerdict& v) { return v.ownerTrusted && !v.othersMayChange; }

// Test seam: Wine neither keeps nor reports access lists as Windows does,
// so tests answer for the system here.  nullptr restores the real ones.
struct SecurityFunctions {
  SecurityVerdict (*check)(HANDLE object) = nullptr;
  bool (*apply)(HANDLE object) = nullptr;
};
SecurityFunctions setSecurityFunctions(SecurityFunctions functions);

// The access list of a security descriptor as SDDL ("" when the system
// cannot say): lets tests compare what was passed with kAdminOnlyFolderSddl.
std::string descriptorAccessList(PSECURITY_DESCRIPTOR descriptor);
