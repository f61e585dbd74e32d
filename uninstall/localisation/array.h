// A growable array of plain elements that grows by a quarter plus 32 and ends the process
// (through the error handler) when memory runs out.
#pragma once

#include <cstdlib>
#include <cstring>

#include "localisation/errors.h"

template <typename T>
class Array {
 public:
  T* data = nullptr;
  unsigned count = 0;
  unsigned capacity = 0;
  unsigned maxSize = 0;  // 0: no limit

  Array() = default;
  explicit Array(unsigned n) { Add(n); }
  ~Array() { std::free(data); }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  // Grows count by n; the new elements are uninitialised.
  void Add(unsigned n) {
    count += n;
    if (count <= capacity) return;
    if (maxSize != 0 && count > maxSize) {
      ErrorText(L"Maximum allowed array size (%u) is exceeded", maxSize);
      MemoryError();
    }
    unsigned grown = capacity + capacity / 4 + 32;
    unsigned newCapacity = count > grown ? count : grown;
    void* p = std::realloc(data, static_cast<size_t>(newCapacity) * sizeof(T));
    if (!p) MemoryError();
    data = static_cast<T*>(p);
    capacity = newCapacity;
  }
  void Push(const T& item) {
    Add(1);
    data[count - 1] = item;
  }
  void SetSize(unsigned n) {
    if (capacity < n)
      Add(n - count);
    else
      count = n;
  }
  void Reset() {
    std::free(data);
    data = nullptr;
    count = capacity = 0;
  }
  T& operator[](unsigned i) { return data[i]; }
  const T& operator[](unsigned i) const { return data[i]; }
};
