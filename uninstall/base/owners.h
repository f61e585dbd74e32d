// Tiny owners for Windows resources, so that every early return releases what was opened.
#pragma once

#include <windows.h>

#include <utility>

// Owns a value with a release function; `Empty` marks the state that needs no release.
template <typename T, typename Traits>
class Owner {
 public:
  Owner() = default;
  explicit Owner(T value) : value_(value) {}
  ~Owner() { reset(); }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  Owner(Owner&& other) noexcept : value_(other.release()) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const { return value_; }
  explicit operator bool() const { return Traits::IsValid(value_); }
  // Releases the current value; for use as an out-parameter of the call that fills it.
  T* put() {
    reset();
    return &value_;
  }
  T release() { return std::exchange(value_, Traits::Empty()); }
  void reset(T value = Traits::Empty()) {
    if (Traits::IsValid(value_)) {
      DWORD error = GetLastError();  // keep the caller's view of the last failure
      Traits::Close(value_);
      SetLastError(error);
    }
    value_ = value;
  }

 private:
  T value_ = Traits::Empty();
};

struct HandleTraits {
  static HANDLE Empty() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct KeyTraits {
  static HKEY Empty() { return nullptr; }
  static bool IsValid(HKEY k) { return k != nullptr; }
  static void Close(HKEY k) { RegCloseKey(k); }
};
struct ModuleTraits {
  static HMODULE Empty() { return nullptr; }
  static bool IsValid(HMODULE m) { return m != nullptr; }
  static void Close(HMODULE m) { FreeLibrary(m); }
};

struct FontTraits {
  static HFONT Empty() { return nullptr; }
  static bool IsValid(HFONT f) { return f != nullptr; }
  static void Close(HFONT f) { DeleteObject(f); }
};

using ScopedHandle = Owner<HANDLE, HandleTraits>;
using ScopedFindHandle = Owner<HANDLE, FindHandleTraits>;
using ScopedKey = Owner<HKEY, KeyTraits>;
using ScopedModule = Owner<HMODULE, ModuleTraits>;
using ScopedFont = Owner<HFONT, FontTraits>;

// A COM interface pointer, released on every path.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  T** put() {
    reset();
    return &ptr_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (ptr_) std::exchange(ptr_, nullptr)->Release();
  }

 private:
  T* ptr_ = nullptr;
};
