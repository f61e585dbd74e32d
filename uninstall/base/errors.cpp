#include "base/errors.h"

#include <cstdarg>

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

void Throw(OBX_EXIT code) {
  SetErrorCode(code);
  throw code;
}

void ReportMemoryError() {
  ReportMessage(kMsgOutOfMemory);
  SetErrorCode(OBX_EXIT_MEMORY);
}

void MemoryError() {
  ReportMemoryError();
  Throw(OBX_EXIT_MEMORY);
}

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
