// What an elevated process needs to keep others' hands off a file it later runs: whether it is
// elevated at all, and security that lets only administrators and SYSTEM change a folder.
#pragma once

#include <windows.h>

// True when this process runs with an administrator's full rights: an elevated token, or, where
// Windows knows no elevation, membership of the Administrators group.
bool IsProcessElevated();
// What IsProcessElevated answers in tests, in place of the system (a copy is kept), or the
// system's answer again when null. Never set by the program.
void SetElevationOverride(const bool* elevated);

// Whether the kernel object's owner is the Administrators group or SYSTEM: what no process without
// an administrator's full rights can have made.
bool IsAdminOwned(HANDLE object);

// Security for CreateDirectoryW, CreateNewFile and named objects: full access for Administrators
// and SYSTEM only, passed down to everything created below, nothing taken over from the parent
// folder; with adminOwned, owned by the Administrators group (which only an elevated process can
// name as owner) whatever the token's default owner.
class AdminOnlySecurity {
 public:
  explicit AdminOnlySecurity(bool adminOwned = false);
  ~AdminOnlySecurity();
  AdminOnlySecurity(const AdminOnlySecurity&) = delete;
  AdminOnlySecurity& operator=(const AdminOnlySecurity&) = delete;
  // Null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* get();

 private:
  SECURITY_ATTRIBUTES attributes_ = {};
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};
