#include "filesystem/fileops.h"

#include <windows.h>

#include "filesystem/path.h"

namespace {

// Builds the "\\?\" form of name for the second attempt. When it cannot be built, the error of
// the first attempt is left in place for the caller.
bool LongFormForRetry(const wchar_t* name, wchar_t* out) {
  DWORD error = GetLastError();
  bool built = MakeLongPath(name, out, kPathSize);
  SetLastError(error);
  return built;
}

bool FreeSpaceOf(const wchar_t* folder, ULARGE_INTEGER& available, ULARGE_INTEGER& totalFree) {
  ULARGE_INTEGER total;
  return GetDiskFreeSpaceExW(folder, &available, &total, &totalFree) != 0;
}

}  // namespace

bool DelFile(const wchar_t* name) {
  if (DeleteFileW(name)) return true;
  wchar_t longName[kPathSize];
  return LongFormForRetry(name, longName) && DeleteFileW(longName);
}

unsigned GetFileAttr(const wchar_t* name) {
  DWORD attr = GetFileAttributesW(name);
  if (attr != INVALID_FILE_ATTRIBUTES) return attr;
  wchar_t longName[kPathSize];
  if (!LongFormForRetry(name, longName)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(longName);
}

bool FileExist(const wchar_t* name) { return GetFileAttr(name) != INVALID_FILE_ATTRIBUTES; }

bool IsDir(unsigned attr) {
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The all-bits-set word means "no attributes"; it must not read as a link either.
bool IsLink(unsigned attr) {
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

uint64_t GetFreeDisk(const wchar_t* name) {
  wchar_t folder[kPathSize];
  GetFilePath(name, folder, kPathSize);
  ULARGE_INTEGER available, totalFree;
  bool ok;
  if (folder[0] == 0) {
    ok = FreeSpaceOf(nullptr, available, totalFree);
  } else {
    ok = FreeSpaceOf(folder, available, totalFree);
    wchar_t longFolder[kPathSize];
    if (!ok && LongFormForRetry(folder, longFolder))
      ok = FreeSpaceOf(longFolder, available, totalFree);
  }
  // Guards against a quota figure that the volume itself cannot hold.
  if (!ok || available.HighPart > totalFree.HighPart) return 0;
  return available.QuadPart;
}
