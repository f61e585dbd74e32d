#include "filesystem/secure.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

#include "base/convert.h"
#include "base/owners.h"
#include "base/text.h"
#include "filesystem/path.h"

namespace {

// Protected ("P"): no entry inherited from the parent. Object and container inherit ("OICI"):
// files and folders made inside get the same two entries.
constexpr wchar_t kAdminOwnedDescriptor[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
// The same without the owner.
constexpr const wchar_t* kAdminOnlyDescriptor = kAdminOwnedDescriptor + 4;

struct ElevationState {
  bool overridden = false;
  bool elevated = false;
  // The token's answer, asked once: it cannot change while the process runs, and the registry
  // layer asks at every open of a class key. Zero at the start, so the object stays out of the
  // file's initialised data: 0 not asked yet, 1 not elevated, 2 elevated.
  unsigned char tokenAnswer = 0;
  wchar_t adminOnlyFolder[kPathSize] = {};
};
ElevationState elevationState;

// Rights over a folder that let their holder put other files in its place; over a folder above,
// only those that let it rename, delete or take over what is below (creating new folders there,
// as every user may in a drive's root, does not).
constexpr DWORD kFolderChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                      DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;
constexpr DWORD kAboveChangeRights =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
constexpr DWORD kServiceRid = 80;  // SECURITY_SERVICE_ID_BASE_RID: NT SERVICE\..., TrustedInstaller

// Administrators, SYSTEM and services: installing a service takes an administrator.
bool IsAdminSid(PSID sid) {
  static const SID_IDENTIFIER_AUTHORITY kNtAuthority = SECURITY_NT_AUTHORITY;
  return IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(sid, WinLocalSystemSid) ||
         (*GetSidSubAuthorityCount(sid) > 0 && *GetSidSubAuthority(sid, 0) == kServiceRid &&
          memcmp(GetSidIdentifierAuthority(sid), &kNtAuthority, sizeof kNtAuthority) == 0);
}

bool OthersMayChange(const wchar_t* path, DWORD rights) {
  // The folder itself, never a link's target, and one try only: a folder that cannot be opened
  // counts as one others may change.
  ScopedHandle folder(CreateFileW(path, READ_CONTROL,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!folder || !GetFileInformationByHandle(folder.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      GetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return true;
  bool others = !owner || !dacl || !IsAdminSid(owner);
  for (DWORD i = 0; dacl && i < dacl->AceCount && !others; i++) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    others = GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
             ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
             !(ace->Header.AceFlags & INHERIT_ONLY_ACE) && (ace->Mask & rights) &&
             !IsAdminSid(&ace->SidStart);
  }
  LocalFree(descriptor);
  return others;
}

bool IsAdministratorsMember() {
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
         CheckTokenMembership(nullptr, administrators, &member) && member;
}

}  // namespace

bool IsProcessElevated() {
  if (elevationState.overridden) return elevationState.elevated;
  if (!elevationState.tokenAnswer) {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD length = 0;
    // Before user account control an administrator always has full rights.
    bool elevated =
        GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &length)
            ? elevation.TokenIsElevated != 0
            : IsAdministratorsMember();
    elevationState.tokenAnswer = elevated ? 2 : 1;
  }
  return elevationState.tokenAnswer == 2;
}

void SetElevationOverride(const bool* elevated) {
  elevationState.overridden = elevated != nullptr;
  elevationState.elevated = elevated && *elevated;
}

bool StandardUsersCanChange(const wchar_t* folder) {
  const wchar_t* adminOnly = elevationState.adminOnlyFolder;
  unsigned length = TextLength(adminOnly);
  if (length && CompareNoCaseN(folder, adminOnly, length) == 0 &&
      (folder[length] == 0 || folder[length] == L'\\'))
    return false;
  wchar_t path[kPathSize];
  CopyText(path, folder, kPathSize);
  unsigned end = TextLength(path);
  while (end > 3 && path[end - 1] == L'\\') path[--end] = 0;
  for (DWORD rights = kFolderChangeRights;; rights = kAboveChangeRights) {
    if (OthersMayChange(path, rights)) return true;
    // One folder up, the drive's root last.
    wchar_t* name = PointToName(path);
    if (*name == 0 || name == path) return false;
    if (name - path == 3 && name[-2] == L':')
      *name = 0;
    else
      name[-1] = 0;
  }
}

bool ElevatedMayUse(const wchar_t* file) {
  if (!IsProcessElevated()) return true;
  wchar_t folder[kPathSize];
  GetFilePath(file, folder, kPathSize);
  return !StandardUsersCanChange(folder);
}

void SetAdminOnlyFolderOverride(const wchar_t* folder) {
  CopyText(elevationState.adminOnlyFolder, folder ? folder : L"", kPathSize);
}

bool IsAdminOwned(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool admin = owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                         IsWellKnownSid(owner, WinLocalSystemSid));
  LocalFree(descriptor);
  return admin;
}

AdminOnlySecurity::AdminOnlySecurity(bool adminOwned) {
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          adminOwned ? kAdminOwnedDescriptor : kAdminOnlyDescriptor, SDDL_REVISION_1,
          &descriptor_, nullptr))
    descriptor_ = nullptr;
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

AdminOnlySecurity::~AdminOnlySecurity() {
  if (descriptor_) LocalFree(descriptor_);
}

SECURITY_ATTRIBUTES* AdminOnlySecurity::get() { return descriptor_ ? &attributes_ : nullptr; }
