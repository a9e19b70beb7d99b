// Access lists for the installer's private and shared folders (declared in
// system/access_win32.h).
#include "system/access_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "system/handles_win32.h"
#include "system/system_library_win32.h"
#include "system/win_text_win32.h"

namespace {

// advapi32 functions of Windows 2000 and later are looked up, so the program
// still loads on Windows 95 and NT 4, where folders keep their inherited list.
HMODULE advapi() { return GetModuleHandleA("advapi32.dll"); }
#define ADVAPI(name) procAddress<decltype(&::name)>(advapi(), #name)

FolderCreatedObserver folderObserver = nullptr;
SecurityFunctions securityOverride;

// Rights that let an account change an object or what a folder holds.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                      FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;

// A security identifier made by AllocateAndInitializeSid, freed with FreeSid.
class WellKnownSid {
public:
  WellKnownSid(BYTE authority, std::vector<DWORD> parts) {
    auto allocate = ADVAPI(AllocateAndInitializeSid);
    SID_IDENTIFIER_AUTHORITY a = {{0, 0, 0, 0, 0, authority}};
    parts.resize(8, 0);
    if (allocate &&
        !allocate(&a, static_cast<BYTE>(countOf(parts)), parts[0], parts[1], parts[2], parts[3], parts[4], parts[5],
                  parts[6], parts[7], &sid_))
      sid_ = nullptr;
  }
  ~WellKnownSid() {
    auto release = ADVAPI(FreeSid);
    if (sid_ && release) release(sid_);
  }
  WellKnownSid(const WellKnownSid&) = delete;
  WellKnownSid& operator=(const WellKnownSid&) = delete;
  PSID get() const { return sid_; }

private:
  static std::size_t countOf(const std::vector<DWORD>& parts) {
    std::size_t n = parts.size();
    while (n > 1 && parts[n - 1] == 0) --n;
    return n;
  }
  PSID sid_ = nullptr;
};

// A descriptor the security calls allocated (LocalFree).
struct LocalDescriptor {
  PSECURITY_DESCRIPTOR value = nullptr;
  ~LocalDescriptor() {
    if (value) LocalFree(value);
  }
};

bool sameSid(PSID a, PSID b) {
  auto equal = ADVAPI(EqualSid);
  return a && b && equal && equal(a, b);
}

// The accounts an elevated installer relies on: SYSTEM, Administrators,
// TrustedInstaller, and whoever owns the system folder (an account that can
// replace system files gains nothing from fooling the installer).
class TrustedAccounts {
public:
  TrustedAccounts()
      : system_(5, {18}),
        administrators_(5, {32, 544}),
        trustedInstaller_(5, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}),
        creatorOwner_(3, {0}),
        creatorGroup_(3, {1}) {
    auto getInfo = ADVAPI(GetSecurityInfo);
    UniqueFile folder(winOpenNoFollow(winSystemDirectory(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (getInfo && folder)
      getInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &systemFolderOwner_, nullptr, nullptr,
              nullptr, &systemFolderDescriptor_.value);
  }
  bool trusted(PSID sid) const {
    return sameSid(sid, system_.get()) || sameSid(sid, administrators_.get()) ||
           sameSid(sid, trustedInstaller_.get()) || sameSid(sid, systemFolderOwner_);
  }
  // CREATOR OWNER and CREATOR GROUP stand for whoever creates a child; on
  // the object itself they grant nothing.
  bool creator(PSID sid) const { return sameSid(sid, creatorOwner_.get()) || sameSid(sid, creatorGroup_.get()); }

private:
  WellKnownSid system_, administrators_, trustedInstaller_, creatorOwner_, creatorGroup_;
  PSID systemFolderOwner_ = nullptr;
  LocalDescriptor systemFolderDescriptor_;
};

SecurityVerdict systemCheck(HANDLE object) {
  SecurityVerdict verdict;
  auto getInfo = ADVAPI(GetSecurityInfo);
  auto getAce = ADVAPI(GetAce);
  if (!getInfo || !getAce || !processIsAdministrator()) return verdict;
  PSID owner = nullptr;
  PACL list = nullptr;
  LocalDescriptor descriptor;
  if (getInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
              &list, nullptr, &descriptor.value) != ERROR_SUCCESS)
    return SecurityVerdict{false, true};  // what cannot be read cannot be relied on
  static const TrustedAccounts accounts;
  verdict.ownerTrusted = accounts.trusted(owner);
  if (!list) {
    verdict.othersMayChange = true;  // no list at all lets everyone in
    return verdict;
  }
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!getAce(list, i, &entry)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    PSID who = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & kChangeRights) && !accounts.trusted(who) && !accounts.creator(who))
      verdict.othersMayChange = true;
  }
  return verdict;
}

bool systemApply(HANDLE object) {
  auto setInfo = ADVAPI(SetSecurityInfo);
  auto getOwner = ADVAPI(GetSecurityDescriptorOwner);
  auto getList = ADVAPI(GetSecurityDescriptorDacl);
  PrivateFolderSecurity shared = PrivateFolderSecurity::shared();
  if (!setInfo || !getOwner || !getList || !shared.descriptor()) return false;
  PSID owner = nullptr;
  PACL list = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  if (!getOwner(shared.descriptor(), &owner, &defaulted) || !getList(shared.descriptor(), &present, &list, &defaulted))
    return false;
  return setInfo(object, SE_FILE_OBJECT,
                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner,
                 nullptr, list, nullptr) == ERROR_SUCCESS;
}

}  // namespace

bool processIsAdministrator() {
  auto check = ADVAPI(CheckTokenMembership);
  WellKnownSid administrators(5, {32, 544});
  if (!check || !administrators.get()) return false;
  BOOL member = FALSE;
  if (!check(nullptr, administrators.get(), &member)) member = FALSE;
  return member != FALSE;
}

bool processIsElevated() {
  auto open = ADVAPI(OpenProcessToken);
  auto query = ADVAPI(GetTokenInformation);
  HANDLE token = nullptr;
  if (!open || !query || !open(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  UniqueKernelHandle held(token);
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  // Before Windows Vista the class is unknown and the call fails.
  return query(token, TokenElevationType, &type, sizeof type, &size) && type == TokenElevationTypeFull;
}

PrivateFolderSecurity::PrivateFolderSecurity() : PrivateFolderSecurity(kAdminOnlyFolderSddl) {}

PrivateFolderSecurity PrivateFolderSecurity::shared() { return PrivateFolderSecurity(kSharedFolderSddl); }

PrivateFolderSecurity::PrivateFolderSecurity(const char* sddl) {
  if (!processIsAdministrator()) return;
  auto convert = ADVAPI(ConvertStringSecurityDescriptorToSecurityDescriptorA);
  if (!convert || !convert(sddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

PrivateFolderSecurity::PrivateFolderSecurity(PrivateFolderSecurity&& other) noexcept
    : descriptor_(other.descriptor_), attributes_(other.attributes_) {
  other.descriptor_ = nullptr;
  attributes_.lpSecurityDescriptor = descriptor_;
}

PrivateFolderSecurity::~PrivateFolderSecurity() {
  if (descriptor_) LocalFree(descriptor_);
}

namespace {

BOOL createWith(const std::string& path, PrivateFolderSecurity security) {
  BOOL created = winCreateDirectory(path, security.attributes());
  if (created) reportFolderCreated(path, security.descriptor());
  return created;
}

}  // namespace

BOOL createPrivateFolder(const std::string& path) { return createWith(path, PrivateFolderSecurity()); }

BOOL createSharedFolder(const std::string& path) { return createWith(path, PrivateFolderSecurity::shared()); }

bool isReparsePoint(const std::string& path) {
  DWORD attributes = winGetFileAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

FolderCreatedObserver setFolderCreatedObserver(FolderCreatedObserver observer) {
  FolderCreatedObserver previous = folderObserver;
  folderObserver = observer;
  return previous;
}

void reportFolderCreated(const std::string& path, PSECURITY_DESCRIPTOR descriptor) {
  if (folderObserver) folderObserver(path, descriptor);
}

SecurityVerdict checkSecurity(HANDLE object) {
  return securityOverride.check ? securityOverride.check(object) : systemCheck(object);
}

bool applySharedSecurity(HANDLE object) {
  return securityOverride.apply ? securityOverride.apply(object) : systemApply(object);
}

SecurityFunctions setSecurityFunctions(SecurityFunctions functions) {
  SecurityFunctions previous = securityOverride;
  securityOverride = functions;
  return previous;
}

std::string descriptorAccessList(PSECURITY_DESCRIPTOR descriptor) {
  auto convert = ADVAPI(ConvertSecurityDescriptorToStringSecurityDescriptorA);
  LPSTR text = nullptr;
  if (!descriptor || !convert ||
      !convert(descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
    return std::string();
  std::string result(text);
  LocalFree(text);
  return result;
}
