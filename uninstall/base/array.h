// A growable array of plain elements that grows by a quarter plus 32. A growth the memory (or
// maxSize) does not allow is a result, not the end of the process: the caller decides whether it
// can go on without it (the memory policy in base/outcome.h).
#pragma once

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

template <typename T>
class Array {
 public:
  T* data = nullptr;
  unsigned count = 0;
  unsigned capacity = 0;
  unsigned maxSize = 0;  // 0: no limit

  Array() = default;
  ~Array() { std::free(data); }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  // Grows count by n; the new elements are uninitialised. False, with the array as it was, when
  // the count would wrap around or pass maxSize, or the memory is not there.
  [[nodiscard]] bool Add(unsigned n) {
    if (n > UINT_MAX - count) return false;
    unsigned wanted = count + n;
    if (wanted > capacity) {
      if (maxSize != 0 && wanted > maxSize) return false;
      unsigned long long grown = static_cast<unsigned long long>(capacity) + capacity / 4 + 32;
      unsigned newCapacity = grown > UINT_MAX ? UINT_MAX : static_cast<unsigned>(grown);
      if (wanted > newCapacity) newCapacity = wanted;
      unsigned long long bytes = static_cast<unsigned long long>(newCapacity) * sizeof(T);
      void* p = bytes > SIZE_MAX ? nullptr : std::realloc(data, static_cast<size_t>(bytes));
      if (!p) return false;
      data = static_cast<T*>(p);
      capacity = newCapacity;
    }
    count = wanted;
    return true;
  }
  // The item may be an element of this array, which the growth may move.
  [[nodiscard]] bool Push(const T& item) {
    T copy = item;
    if (!Add(1)) return false;
    data[count - 1] = copy;
    return true;
  }
  // Shrinking keeps the storage and always succeeds.
  [[nodiscard]] bool SetSize(unsigned n) {
    if (capacity < n) return Add(n - count);
    count = n;
    return true;
  }
  void Cut(unsigned n) {
    if (n < count) count = n;
  }
  void Reset() {
    std::free(data);
    data = nullptr;
    count = capacity = 0;
  }
  T& operator[](unsigned i) { return data[i]; }
  const T& operator[](unsigned i) const { return data[i]; }
};
