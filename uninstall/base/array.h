// A growable array of plain elements that grows by a quarter plus 32 and ends the process
// (through the error handler) when memory runs out.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"

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
    // A count or byte size that wrapped around would leave a block smaller than count.
    if (n > UINT_MAX - count) MemoryError();
    count += n;
    if (count <= capacity) return;
    if (maxSize != 0 && count > maxSize) {
      ErrorText(L"Maximum allowed array size (%u) is exceeded", maxSize);
      MemoryError();
    }
    unsigned long long grown = static_cast<unsigned long long>(capacity) + capacity / 4 + 32;
    unsigned newCapacity = grown > UINT_MAX ? UINT_MAX : static_cast<unsigned>(grown);
    if (count > newCapacity) newCapacity = count;
    unsigned long long bytes = static_cast<unsigned long long>(newCapacity) * sizeof(T);
    if (bytes > SIZE_MAX) MemoryError();
    void* p = std::realloc(data, static_cast<size_t>(bytes));
    if (!p) MemoryError();
    data = static_cast<T*>(p);
    capacity = newCapacity;
  }
  // The item may be an element of this array, which the growth may move.
  void Push(const T& item) {
    T copy = item;
    Add(1);
    data[count - 1] = copy;
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
