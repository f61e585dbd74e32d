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

// Security for CreateDirectoryW and CreateNewFile: full access for Administrators and SYSTEM
// only, passed down to everything created below, nothing taken over from the parent folder.
class AdminOnlySecurity {
 public:
  AdminOnlySecurity();
  ~AdminOnlySecurity();
  AdminOnlySecurity(const AdminOnlySecurity&) = delete;
  AdminOnlySecurity& operator=(const AdminOnlySecurity&) = delete;
  // Null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* get();

 private:
  SECURITY_ATTRIBUTES attributes_ = {};
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};
