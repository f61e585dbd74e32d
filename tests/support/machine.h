// Machine-wide state of the test prefix that several test programs share: a lock for tests that
// change the real registry, shortcuts or installed programs, and the pending-rename list that
// files scheduled for deletion at restart land in.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/owners.h"

// Held for a test's lifetime; ctest runs test processes side by side, and two setups or
// uninstallations at once would take back each other's integration.
class MachineStateLock {
 public:
  MachineStateLock();
  ~MachineStateLock();
  MachineStateLock(const MachineStateLock&) = delete;
  MachineStateLock& operator=(const MachineStateLock&) = delete;

 private:
  ScopedHandle mutex_;
};

// One MoveFileEx(..., MOVEFILE_DELAY_UNTIL_REBOOT) request: source in DOS form (the "\??\"
// prefix removed), target empty for a deletion.
struct PendingRename {
  std::wstring source;
  std::wstring target;
};

// The machine's list. MoveFileEx ignores a ScratchRegistry; read it without one.
std::vector<PendingRename> ReadPendingRenames();
// True when path is scheduled for deletion at restart (compared case-insensitively).
bool IsPendingDeletion(const std::wstring& path);

// The machine's list replaced by a value of the caller's choosing for the object's lifetime (hold
// a MachineStateLock); the value as it was comes back at the end.
class PendingRenamesValue {
 public:
  PendingRenamesValue() = default;
  ~PendingRenamesValue();
  PendingRenamesValue(const PendingRenamesValue&) = delete;
  PendingRenamesValue& operator=(const PendingRenamesValue&) = delete;
  bool Replace(DWORD type, const std::wstring& text);

 private:
  bool saved_ = false;
  bool existed_ = false;
  DWORD type_ = REG_NONE;
  std::vector<BYTE> data_;
};
