// How a run ends, in one vocabulary: whatever decides the end of a run names its Outcome, and the
// process exit code and the log's reason are derived from it. The codes are those deployment
// systems read after any installer: Windows Installer's where one fits.
#pragma once

enum class Outcome : unsigned char {
  kDone,  // 0
  // The setup dialog was cancelled or could not be shown; nothing was applied. 1, which the
  // installer that starts setup has always read.
  kCancelled,
  // The run lacked the rights it needs and changed nothing on the machine: 5, the system's
  // ERROR_ACCESS_DENIED, which tells the administrator what to change.
  kNoRights,
  kDeclined,  // the uninstall question answered No, nothing changed: 1602 ERROR_INSTALL_USEREXIT
  // Only part of what was asked was done, or the run failed before it could start (memory that
  // ran out included): the product may be partly there. 1603 ERROR_INSTALL_FAILURE.
  kIncomplete,
  // Another setup or uninstallation runs; nothing changed. 1618 ERROR_INSTALL_ALREADY_RUNNING.
  kAnotherCopyRuns,
  // The log asked for could not be created; nothing was done. 1622 ERROR_INSTALL_LOG_FAILURE.
  kLogFailed,
  // An unknown switch, or a window asked for where none may show; nothing was done. 1639
  // ERROR_INVALID_COMMAND_LINE.
  kInvalidCommandLine,
  // Done, but files in use go only at the next restart. 3010 ERROR_SUCCESS_REBOOT_REQUIRED.
  kRestartNeeded,
};

unsigned ExitCodeOf(Outcome outcome);
// The few words the log gives with the exit code.
const wchar_t* ReasonOf(Outcome outcome);

// The memory policy, the one for the whole program: nothing throws. Every allocation (malloc, a
// growing Array, new (std::nothrow)) reports a shortfall as its result, and the caller decides:
// a unit that can go on without the memory carries the failure back in its own result (the
// settings store keeps what it loaded and never saves it; a save leaves the old file), and one
// that cannot calls MemoryError. A plain new never throws either: it ends the process as
// MemoryError does.
//
// Ends the process at once with the exit code of Outcome::kIncomplete: no message (nobody may
// have to answer one, least of all under /S), no destructors, nothing undone, no file saved from
// half-built state.
[[noreturn]] void MemoryError();
