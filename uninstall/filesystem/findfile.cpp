#include "filesystem/findfile.h"

#include "base/owners.h"
#include "base/text.h"
#include "filesystem/fileops.h"

namespace {

uint64_t Nanoseconds(const FILETIME& time) {
  return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 100;
}

bool IsNothingFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_NO_MORE_FILES;
}

// FindFirstFileW on the mask as given, then on its "\\?\" form.
HANDLE FirstStep(const wchar_t* mask, WIN32_FIND_DATAW& found, FindData& data) {
  HANDLE handle = FindFirstFileW(mask, &found);
  wchar_t longMask[kPathSize];
  if (handle == INVALID_HANDLE_VALUE && LongFormForRetry(mask, longMask))
    handle = FindFirstFileW(longMask, &found);
  if (handle == INVALID_HANDLE_VALUE) data.error = !IsNothingFound(GetLastError());
  return handle;
}

void Fill(const wchar_t* mask, const WIN32_FIND_DATAW& found, FindData& data) {
  CopyText(data.name, mask, kPathSize);
  SetName(data.name, found.cFileName, kPathSize);
  data.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  data.attr = found.dwFileAttributes;
  data.isDir = IsDir(data.attr);
  data.isLink = IsLink(data.attr);
  data.creationTime = found.ftCreationTime;
  data.lastAccessTime = found.ftLastAccessTime;
  data.lastWriteTime = found.ftLastWriteTime;
  data.mtime = Nanoseconds(found.ftLastWriteTime);
  data.ctime = Nanoseconds(found.ftCreationTime);
  data.atime = Nanoseconds(found.ftLastAccessTime);
}

}  // namespace

bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

void FindFile::SetMask(const wchar_t* newMask) {
  // A search still open belongs to the old mask; its handle would otherwise be lost.
  Close();
  CopyText(mask, newMask, kPathSize);
  first = true;
}

bool FindFile::Next(FindData& data) {
  for (;;) {
    data.error = false;
    if (mask[0] == 0) return false;
    WIN32_FIND_DATAW found;
    if (first) {
      handle.reset(FirstStep(mask, found, data));
      if (!handle) return false;
    } else {
      if (!handle) return false;
      if (!FindNextFileW(handle.get(), &found)) {
        data.error = GetLastError() != ERROR_NO_MORE_FILES;
        return false;
      }
    }
    first = false;
    if (IsDotEntry(found.cFileName)) continue;
    Fill(mask, found, data);
    return true;
  }
}

void FindFile::Close() { handle.reset(); }

bool FindFile::FastFind(const wchar_t* name, FindData& data) {
  data.error = false;
  if (HasWildcards(name)) return false;
  WIN32_FIND_DATAW found;
  ScopedFindHandle search(FirstStep(name, found, data));
  if (!search) return false;
  Fill(name, found, data);
  return true;
}
