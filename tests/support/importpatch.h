// Replacing one of this executable's imports for a while, so that a test can make a Windows call
// fail the way Windows does where Wine does not: byte-range locks on reads, a folder that takes
// no new files. The product code is linked into the test program and calls through these slots.
#pragma once

#include <windows.h>

#include <vector>

class ImportPatch {
 public:
  // Fails the current test when the executable does not import function from dll.
  ImportPatch(const char* dll, const char* function, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  template <typename F>
  F Original() const {
    return reinterpret_cast<F>(original_);
  }

 private:
  ULONG_PTR* slot_ = nullptr;
  ULONG_PTR original_ = 0;
};

// Wine does not enforce byte-range locks on reads (a 64 KiB read across a region that another
// process has locked succeeds there), so the refusals Windows gives are imitated: while a
// ReadRefusal is alive, every ReadFile asking for more than `above` bytes at a file position of
// `from` or beyond fails with `error`. One at a time.
struct ReadRefusal {
  ReadRefusal(DWORD above, DWORD error, LONGLONG from = 0);
  ~ReadRefusal();
  std::vector<DWORD> requests;  // every count asked for, refused or not
  DWORD above, error;
  LONGLONG from;
  ImportPatch patch;
};
