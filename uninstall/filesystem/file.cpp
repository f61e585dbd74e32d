#include "filesystem/file.h"

#include "base/text.h"
#include "filesystem/fileops.h"

namespace {

// Windows refuses large reads from some devices and from locked regions; smaller reads pass.
constexpr unsigned kDeviceReadLimit = 20000;
constexpr unsigned kLockedReadLimit = 32768;

// The name's last character would be dropped by the plain call.
bool EndsInDotOrBlank(const wchar_t* name) {
  wchar_t last = *PointToLastChar(name);
  return last == L'.' || last == L' ';
}

// Without plainFirst, only the "\\?\" form is tried: the plain call would drop a last dot or
// blank and reach another file.
HANDLE CreateWithRetry(const wchar_t* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags, bool plainFirst, DWORD& firstError) {
  HANDLE handle = plainFirst
                      ? CreateFileW(name, access, share, nullptr, disposition, flags, nullptr)
                      : INVALID_HANDLE_VALUE;
  if (handle != INVALID_HANDLE_VALUE) return handle;
  firstError = plainFirst ? GetLastError() : ERROR_INVALID_NAME;
  SetLastError(firstError);
  wchar_t longName[kPathSize];
  if (!LongFormForRetry(name, longName)) return INVALID_HANDLE_VALUE;
  return CreateFileW(longName, access, share, nullptr, disposition, flags, nullptr);
}

}  // namespace

File::~File() {
  if (!IsOpened()) return;
  if (created) {
    // An unfinished file must not be mistaken for a complete one later.
    handle.reset();
    DelFile(name);
  } else {
    Close();
  }
}

bool File::Open(const wchar_t* fileName, unsigned mode) {
  Close();
  lastError = kNoError;
  created = false;
  DWORD share = FILE_SHARE_READ | ((mode & kOpenShareWrite) ? FILE_SHARE_WRITE : 0);
  DWORD remembered;
  HANDLE opened = CreateWithRetry(fileName, GENERIC_READ, share, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, true, remembered);
  if (opened == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) remembered = ERROR_FILE_NOT_FOUND;
    if (remembered == ERROR_FILE_NOT_FOUND) lastError = kNotFound;
    return false;
  }
  handle.reset(opened);
  CopyText(name, fileName, kPathSize);
  readStopped = false;
  return true;
}

bool File::Create(const wchar_t* fileName, unsigned mode) {
  Close();
  DWORD access = (mode & kCreateWriteOnly) ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
  DWORD share = (mode & kCreateShareRead) ? FILE_SHARE_READ : 0;
  bool plainFirst = (mode & kCreateAllowTrailingDot) || !EndsInDotOrBlank(fileName);
  DWORD firstError;
  handle.reset(CreateWithRetry(fileName, access, share, CREATE_ALWAYS, 0, plainFirst, firstError));
  created = true;
  CopyText(name, fileName, kPathSize);
  return IsOpened();
}

int File::Read(void* buffer, unsigned count) {
  for (;;) {
    if (readStopped) return 0;
    DWORD got = 0;
    if (ReadFile(handle.get(), buffer, count, &got, nullptr)) return static_cast<int>(got);
    DWORD error = GetLastError();
    DWORD type = GetFileType(handle.get());
    unsigned smaller = 0;
    if ((type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) && count > kDeviceReadLimit)
      smaller = kDeviceReadLimit;
    else if (count > kLockedReadLimit && error == ERROR_LOCK_VIOLATION)
      smaller = kLockedReadLimit;
    if (smaller != 0 && ReadFile(handle.get(), buffer, smaller, &got, nullptr))
      return static_cast<int>(got);

    // Nobody is asked to retry: the rest of the file stays unread.
    lastError = kReadFailed;
    readStopped = true;
    return 0;
  }
}

bool File::Write(const void* data, unsigned count) {
  if (count == 0) return true;
  DWORD written = 0;
  return WriteFile(handle.get(), data, count, &written, nullptr) && written == count;
}

bool File::Seek(int64_t offset, unsigned origin) {
  if (!IsOpened()) return true;
  if (offset < 0 && (origin == FILE_CURRENT || origin == FILE_END)) {
    int64_t base = origin == FILE_CURRENT ? Tell() : FileLength();
    if (base < 0) return false;
    offset += base;
    origin = FILE_BEGIN;
  }
  LONG high = static_cast<LONG>(offset >> 32);
  // A result of INVALID_SET_FILE_POINTER is also a valid low part; only the error tells.
  SetLastError(ERROR_SUCCESS);
  DWORD low = SetFilePointer(handle.get(), static_cast<LONG>(offset & 0xFFFFFFFF), &high, origin);
  return low != INVALID_SET_FILE_POINTER || GetLastError() == ERROR_SUCCESS;
}

int64_t File::Tell() {
  if (IsOpened()) {
    LONG high = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(handle.get(), 0, &high, FILE_CURRENT);
    if (low != INVALID_SET_FILE_POINTER || GetLastError() == ERROR_SUCCESS)
      return (static_cast<int64_t>(high) << 32) | low;
  }
  return -1;
}

int64_t File::FileLength() {
  int64_t position = Tell();
  if (position < 0) return -1;
  if (!Seek(0, FILE_END)) return -1;
  int64_t length = Tell();
  Seek(position, FILE_BEGIN);
  return length;
}

bool File::Close() {
  if (!IsOpened()) return true;
  // Closed here rather than by the owner: a failed close is the caller's to know.
  return CloseHandle(handle.release()) == TRUE;
}

bool File::IsOpened() const { return static_cast<bool>(handle); }
