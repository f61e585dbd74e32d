#include "guarded.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

GuardedBuffer::GuardedBuffer(size_t size, const void* bytes) : size_(size) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  size_t page = info.dwPageSize;
  dataPagesBytes_ = (size + page - 1) / page * page;
  base_ = static_cast<char*>(VirtualAlloc(nullptr, dataPagesBytes_ + page,
                                          MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old = 0;
  if (base_ == nullptr ||
      !VirtualProtect(base_ + dataPagesBytes_, page, PAGE_NOACCESS, &old)) {
    ADD_FAILURE() << "cannot set up the guard page";
    return;
  }
  data_ = base_ + dataPagesBytes_ - size;
  if (bytes && size) std::memcpy(data_, bytes, size);
}

GuardedBuffer::~GuardedBuffer() {
  if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

void GuardedBuffer::MakeReadOnly() {
  DWORD old = 0;
  if (base_ && dataPagesBytes_ &&
      !VirtualProtect(base_, dataPagesBytes_, PAGE_READONLY, &old))
    ADD_FAILURE() << "cannot make the buffer read-only";
}

namespace {

LONG CALLBACK EndOnAccessViolation(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
    return EXCEPTION_CONTINUE_SEARCH;
  fprintf(stderr, "access violation at %p\n",
          reinterpret_cast<void*>(info->ExceptionRecord->ExceptionInformation[1]));
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

FaultGuard::FaultGuard() : handler_(AddVectoredExceptionHandler(1, EndOnAccessViolation)) {}

FaultGuard::~FaultGuard() { RemoveVectoredExceptionHandler(handler_); }
