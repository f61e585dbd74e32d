#include "base/errors.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <new>

#include "base/text.h"

namespace {

// Message codes of the reports; they would select the text a user sees.
const int kMsgErrorText = 1;
const int kMsgOutOfMemory = 7;
const int kMsgCloseError = 10;
const int kMsgSeekError = 11;
const int kMsgWriteLimit = 73;

const unsigned kErrorTextSize = 1024;

}  // namespace

ErrorHandler errorHandler;

void ReportMessage(int, const wchar_t*) {}

void SetErrorCode(OBX_EXIT code) {
  // A fatal error does not hide a more specific code recorded before it.
  if (code != OBX_EXIT_FATAL || errorHandler.exitCode == OBX_EXIT_SUCCESS ||
      errorHandler.exitCode == 1)
    errorHandler.exitCode = code;
  errorHandler.errorCount++;
}

void ReportMemoryError() {
  ReportMessage(kMsgOutOfMemory);
  SetErrorCode(OBX_EXIT_MEMORY);
}

void MemoryError() {
  ReportMemoryError();
  TerminateProcess(GetCurrentProcess(), kOutOfMemoryExitCode);
  ExitProcess(kOutOfMemoryExitCode);
}

// The allocation operators of the whole program, in place of the runtime's: theirs throw (the
// nothrow forms by catching their own throw), which would bring in the unwinder and the exception
// runtime. Here the nothrow forms answer null and the plain ones end the process.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void* operator new(size_t size) {
  void* p = operator new(size, std::nothrow);
  if (!p) MemoryError();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

void ErrorText(const wchar_t* format, ...) {
  wchar_t text[kErrorTextSize];
  va_list args;
  va_start(args, format);
  FormatTextV(text, kErrorTextSize, format, args);
  va_end(args);
  ReportMessage(kMsgErrorText, text);
}

void CloseError(const wchar_t* name) {
  ReportMessage(kMsgCloseError, name);
  SetErrorCode(OBX_EXIT_FATAL);
}

void SeekError(const wchar_t* name) { ReportMessage(kMsgSeekError, name); }

void WriteLimitError(const wchar_t* name) { ReportMessage(kMsgWriteLimit, name); }

void AskRetryRead(const wchar_t*, RetryAnswer& answer) {
  SetErrorCode(OBX_EXIT_READ);
  answer.quit = true;
}

bool AskRetryWrite(const wchar_t*) { return false; }
