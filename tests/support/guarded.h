// Memory that shows a read or write past the end of a buffer: its last byte is followed by a page
// that faults on any access, and a fault ends the test program at once.
#pragma once

#include <windows.h>

#include <cstddef>

// size bytes, zero or a copy of bytes, ending exactly where a no-access page begins.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size, const void* bytes = nullptr);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  char* data() const { return data_; }
  wchar_t* wide() const { return reinterpret_cast<wchar_t*>(data_); }
  size_t size() const { return size_; }
  // The bytes become read-only as well, so the code under test cannot write into its input.
  void MakeReadOnly();

 private:
  char* base_ = nullptr;
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t dataPagesBytes_ = 0;
};

// While it lives, an access violation ends the process with its address on stderr (an unhandled
// fault under Wine would wait for a debugger until the timeout), which fails the test.
class FaultGuard {
 public:
  FaultGuard();
  ~FaultGuard();
  FaultGuard(const FaultGuard&) = delete;
  FaultGuard& operator=(const FaultGuard&) = delete;

 private:
  void* handler_;
};
