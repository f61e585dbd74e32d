// The process-wide error handler: records exit codes and turns exhausted memory into the end of
// the process. Its reports reach nobody in this program; only the recorded codes change.
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
[[noreturn]] void Throw(OBX_EXIT code);
void ReportMemoryError();
[[noreturn]] void MemoryError();
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
