// Access lists for the installer's private folders (declared in
// system/access_win32.h).
#include "system/access_win32.h"

#include <sddl.h>

#include "system/system_library_win32.h"
#include "system/win_text_win32.h"


namespace {

// advapi32 functions of Windows 2000 and later are looked up, so the program
// still loads on Windows 95 and NT 4, where folders keep their inherited list.
HMODULE advapi() { return GetModuleHandleA("advapi32.dll"); }
#define ADVAPI(name) procAddress<decltype(&::name)>(advapi(), #name)

BOOL createFolderWithAttributes(const std::string& path, SECURITY_ATTRIBUTES* attributes) {
  return winCreateDirectory(path, attributes);
}

CreateFolderFunction createFolder = createFolderWithAttributes;

}  // namespace

bool processIsAdministrator() {
  auto check = ADVAPI(CheckTokenMembership);
  auto allocate = ADVAPI(AllocateAndInitializeSid);
  auto release = ADVAPI(FreeSid);
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
  auto convert = ADVAPI(ConvertStringSecurityDescriptorToSecurityDescriptorA);
  if (!convert || !convert(kAdminOnlyFolderSddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
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
  DWORD attributes = winGetFileAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

CreateFolderFunction setCreateFolderFunction(CreateFolderFunction function) {
  CreateFolderFunction previous = createFolder;
  createFolder = function ? function : createFolderWithAttributes;
  return previous;
}

std::string descriptorAccessList(PSECURITY_DESCRIPTOR descriptor) {
  auto convert = ADVAPI(ConvertSecurityDescriptorToStringSecurityDescriptorA);
  LPSTR text = nullptr;
  if (!descriptor || !convert || !convert(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
    return std::string();
  std::string result(text);
  LocalFree(text);
  return result;
}
