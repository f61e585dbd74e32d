#include "filesystem/secure.h"

#include <aclapi.h>
#include <sddl.h>

#include "base/owners.h"

namespace {

// Protected ("P"): no entry inherited from the parent. Object and container inherit ("OICI"):
// files and folders made inside get the same two entries.
constexpr wchar_t kAdminOwnedDescriptor[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
// The same without the owner.
constexpr const wchar_t* kAdminOnlyDescriptor = kAdminOwnedDescriptor + 4;

struct ElevationState {
  bool overridden = false;
  bool elevated = false;
};
ElevationState elevationState;

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
  ScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD length = 0;
  if (GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &length))
    return elevation.TokenIsElevated != 0;
  // Before user account control an administrator always has full rights.
  return IsAdministratorsMember();
}

void SetElevationOverride(const bool* elevated) {
  elevationState.overridden = elevated != nullptr;
  elevationState.elevated = elevated && *elevated;
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
