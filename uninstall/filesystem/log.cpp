#include "filesystem/log.h"

#include <windows.h>

#include <cstdarg>

#include "base/owners.h"
#include "base/product.h"
#include "base/text.h"
#include "filesystem/fileops.h"
#include "filesystem/path.h"

namespace {

constexpr wchar_t kDefaultNameFormat[] = L"%s" OBX_PRODUCT_NAME L" log %04u-%02u-%02u #%03u.txt";
constexpr unsigned kLastLogNumber = 999;
constexpr unsigned kLogLineSize = kPathSize + 512;
constexpr unsigned kNoOutcome = 0xFFFFFFFF;

struct RunLog {
  ScopedHandle file;
};
RunLog runLog;

HANDLE CreateLogFile(const wchar_t* name) {
  return CreateNewFile(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr);
}

void WriteLogLine(unsigned long outcome, const wchar_t* format, va_list args) {
  if (!runLog.file) return;
  DWORD lastError = GetLastError();
  wchar_t line[kLogLineSize];
  SYSTEMTIME now;
  GetLocalTime(&now);
  int used = FormatText(line, kLogLineSize, L"%02u:%02u:%02u.%03u ", now.wHour, now.wMinute,
                        now.wSecond, now.wMilliseconds);
  // Room is kept for the outcome and the line break: a cut line still ends like every other.
  constexpr unsigned kTailSize = 24;
  FormatTextV(line + used, kLogLineSize - used - kTailSize, format, args);
  wchar_t tail[kTailSize];
  if (outcome == kNoOutcome)
    CopyText(tail, L"\r\n", kTailSize);
  else if (outcome == ERROR_SUCCESS)
    CopyText(tail, L": done\r\n", kTailSize);
  else
    FormatText(tail, kTailSize, L": error %lu\r\n", outcome);
  AppendText(line, tail, kLogLineSize);
  char bytes[kLogLineSize * 3];
  int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
  DWORD written;
  if (size > 1)
    WriteFile(runLog.file.get(), bytes, static_cast<DWORD>(size - 1), &written, nullptr);
  SetLastError(lastError);
}

}  // namespace

bool OpenRunLog(const wchar_t* path) {
  CloseRunLog();
  if (path[0]) {
    runLog.file.reset(CreateLogFile(path));
  } else {
    wchar_t temp[kPathSize], name[kPathSize];
    if (!GetUserTempFolder(temp)) return false;
    SYSTEMTIME today;
    GetLocalTime(&today);
    for (unsigned n = 1; n <= kLastLogNumber && !runLog.file; n++) {
      // A cut name would be another file.
      if (FormatText(name, kPathSize, kDefaultNameFormat, temp, today.wYear, today.wMonth,
                     today.wDay, n) < 0)
        return false;
      runLog.file.reset(CreateLogFile(name));
      DWORD error = GetLastError();
      if (!runLog.file && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
  }
  // The byte order mark tells every editor the text is UTF-8.
  DWORD written;
  return runLog.file && WriteFile(runLog.file.get(), "\xEF\xBB\xBF", 3, &written, nullptr);
}

void CloseRunLog() { runLog.file.reset(); }

void LogLine(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogLine(kNoOutcome, format, args);
  va_end(args);
}

void LogStep(unsigned long error, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogLine(error, format, args);
  va_end(args);
}
