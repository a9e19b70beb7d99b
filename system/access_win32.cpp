// Access lists for the installer's private folders (declared in
// system/access_win32.h).
#include "system/access_win32.h"


namespace {

// advapi32 functions of Windows 2000 and later: looked up, so the program
// still loads on Windows 95 and NT 4, where folders keep their inherited list.
using ConvertSddlToSdFn = BOOL(WINAPI*)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
using ConvertSdToSddlFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD, SECURITY_INFORMATION, LPSTR*, PULONG);
using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
using AllocateAndInitializeSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD,
                                                 DWORD, DWORD, DWORD, DWORD, PSID*);
using FreeSidFn = PVOID(WINAPI*)(PSID);

constexpr DWORD kSddlRevision1 = 1;

template <typename Fn>
Fn advapiFunction(const char* name) {
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (!advapi) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(advapi, name)));
}

BOOL createFolderWithAttributes(const std::string& path, SECURITY_ATTRIBUTES* attributes) {
  return CreateDirectoryA(path.c_str(), attributes);
}

CreateFolderFunction createFolder = createFolderWithAttributes;

}  // namespace

bool processIsAdministrator() {
  auto check = advapiFunction<CheckTokenMembershipFn>("CheckTokenMembership");
  auto allocate = advapiFunction<AllocateAndInitializeSidFn>("AllocateAndInitializeSid");
  auto release = advapiFunction<FreeSidFn>("FreeSid");
  if (!check || !allocate || !release) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!allocate(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
    return false;
  BOOL member = FALSE;
  if (!check(nullptr, administrators, &member)) member = FALSE;
  release(administrators);
  return member != FALSE;
}

PrivateFolderSecurity::PrivateFolderSecurity() {
  if (!processIsAdministrator()) return;
  auto convert = advapiFunction<ConvertSddlToSdFn>("ConvertStringSecurityDescriptorToSecurityDescriptorA");
  if (!convert || !convert(kAdminOnlyFolderSddl, kSddlRevision1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

PrivateFolderSecurity::~PrivateFolderSecurity() {
  if (descriptor_) LocalFree(descriptor_);
}

BOOL createPrivateFolder(const std::string& path) {
  PrivateFolderSecurity security;
  return createFolder(path, security.attributes());
}

bool isReparsePoint(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

CreateFolderFunction setCreateFolderFunction(CreateFolderFunction function) {
  CreateFolderFunction previous = createFolder;
  createFolder = function ? function : createFolderWithAttributes;
  return previous;
}

std::string descriptorAccessList(PSECURITY_DESCRIPTOR descriptor) {
  auto convert = advapiFunction<ConvertSdToSddlFn>("ConvertSecurityDescriptorToStringSecurityDescriptorA");
  LPSTR text = nullptr;
  if (!descriptor || !convert || !convert(descriptor, kSddlRevision1, DACL_SECURITY_INFORMATION, &text, nullptr))
    return std::string();
  std::string result(text);
  LocalFree(text);
  return result;
}
