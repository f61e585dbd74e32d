// A sequence of UTF-16 strings kept back to back in one buffer, read in order.
#pragma once

#include "base/array.h"

class StringList {
 public:
  Array<wchar_t> data;
  unsigned readPos = 0;
  unsigned stringCount = 0;

  // A null text counts as the empty string. False, with the list as it was, when the memory is
  // not there.
  [[nodiscard]] bool AddString(const wchar_t* text);
  // Sets out (when given) to the next string, valid until the list changes; false at the end,
  // with out set to null.
  bool GetString(const wchar_t** out = nullptr);
  void Reset();
};
