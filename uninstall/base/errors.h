// The process-wide error handler: records exit codes and turns exhausted memory into the end of
// the process. Its reports reach nobody in this program; only the recorded codes change.
//
// The memory policy, the one for the whole program: nothing throws. Every allocation (malloc, a
// growing Array, new (std::nothrow)) reports a shortfall as its result, and the caller decides:
// a unit that can go on without the memory carries the failure back in its own result (the
// settings store keeps what it loaded and never saves it; a save leaves the old file), and one
// that cannot calls MemoryError. A plain new never throws either: it ends the process as
// MemoryError does.
#pragma once

enum OBX_EXIT : int {
  OBX_EXIT_SUCCESS = 0,
  OBX_EXIT_FATAL = 2,
  OBX_EXIT_MEMORY = 8,
  OBX_EXIT_READ = 12,
};

struct ErrorHandler {
  OBX_EXIT exitCode = OBX_EXIT_SUCCESS;
  unsigned errorCount = 0;
};

// The one instance; tests may reset it.
extern ErrorHandler errorHandler;

// The hook through which a report would reach a user; does nothing here.
void ReportMessage(int code, const wchar_t* arg = nullptr);

void SetErrorCode(OBX_EXIT code);
void ReportMemoryError();
// Ends the process at once with kOutOfMemoryExitCode, the code of a run that failed and may have
// left the product partly there: no message (nobody may have to answer one, least of all under
// /S), no destructors, nothing undone, no file saved from half-built state.
[[noreturn]] void MemoryError();
constexpr unsigned kOutOfMemoryExitCode = 1603;
void ErrorText(const wchar_t* format, ...);
void CloseError(const wchar_t* name);
void SeekError(const wchar_t* name);
void WriteLimitError(const wchar_t* name);

// Answers of the read-error question; the caller presets all three to false.
struct RetryAnswer {
  bool quit = false;
  bool retry = false;
  bool ignore = false;
};
void AskRetryRead(const wchar_t* name, RetryAnswer& answer);
bool AskRetryWrite(const wchar_t* name);
