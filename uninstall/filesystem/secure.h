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

// Whether a process without an administrator's full rights may change what folder holds: its
// owner, or that of a folder above it, is neither the Administrators group, SYSTEM nor a service,
// or their security lets anyone else add, replace or delete entries in folder, or delete,
// rename or take over it or a folder above. A link, or security that cannot be read, counts as
// changeable. An elevated run starts no program and opens no file from such a folder.
bool StandardUsersCanChange(const wchar_t* folder);
// False when this process is elevated and file lies in a folder StandardUsersCanChange: what a
// standard user could have put there is neither started nor opened then.
bool ElevatedMayUse(const wchar_t* file);
// Tests only: folder and everything below it count as changeable by administrators only (Wine
// keeps no security of its own for files and reads every folder back as its user's), or nothing
// again when null. A copy is kept.
void SetAdminOnlyFolderOverride(const wchar_t* folder);

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
