// One Windows file handle for the program's own data files, with the "\\?\" retry on opening and
// creating, split reads where Windows refuses large ones, failures told by the results (never
// retried, nobody asked), and deletion of a created file that was never closed.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/owners.h"
#include "filesystem/path.h"

class File {
 public:
  // Open mode bits.
  static constexpr unsigned kOpenShareWrite = 0x04;
  // Create mode bits.
  static constexpr unsigned kCreateWriteOnly = 0x02;
  static constexpr unsigned kCreateShareRead = 0x10;
  static constexpr unsigned kCreateAllowTrailingDot = 0x20;

  enum LastError { kNoError = 0, kNotFound = 1, kReadFailed = 2 };

  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  virtual ~File();
  virtual bool Open(const wchar_t* name, unsigned mode);
  virtual bool Close();
  // Bytes read; 0 at the end, and after a failed read (lastError says so; the file then reads no
  // further).
  virtual int Read(void* buffer, unsigned count);
  virtual bool Seek(int64_t offset, unsigned origin);
  virtual int64_t Tell();
  virtual bool IsOpened() const;
  bool Create(const wchar_t* name, unsigned mode);
  bool Write(const void* data, unsigned count);
  int64_t FileLength();

  ScopedHandle handle;
  bool created = false;
  bool readStopped = false;
  wchar_t name[kPathSize] = {};
  int lastError = kNoError;
};
