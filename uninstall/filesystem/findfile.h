// Lists the objects matching a mask one per call, skipping "." and "..", and looks up one named
// object without a scan.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/owners.h"
#include "filesystem/path.h"

struct FindData {
  wchar_t name[kPathSize];  // the mask with its name part replaced by the found name
  uint64_t size;
  unsigned attr;
  unsigned char isDir;
  unsigned char isLink;
  uint64_t mtime, ctime, atime;  // nanoseconds since 1601-01-01 UTC
  FILETIME creationTime, lastAccessTime, lastWriteTime;
  bool error;  // the last step failed for another reason than "nothing (more) found"
};

// "." or "..": a folder's entries for itself and its parent.
bool IsDotEntry(const wchar_t* name);

class FindFile {
 public:
  FindFile() = default;
  FindFile(const FindFile&) = delete;
  FindFile& operator=(const FindFile&) = delete;

  void SetMask(const wchar_t* mask);
  bool Next(FindData& data);
  void Close();
  // False for a name with wildcards (without searching) or a missing object.
  static bool FastFind(const wchar_t* name, FindData& data);

  wchar_t mask[kPathSize] = {};
  ScopedFindHandle handle;
  bool first = true;
};
