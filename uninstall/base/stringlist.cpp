#include "base/stringlist.h"

#include <cwchar>

#include "base/text.h"

bool StringList::AddString(const wchar_t* text) {
  if (!text) text = L"";
  unsigned k = TextLength(text) + 1;
  unsigned at = data.count;
  // A text read back from this list lives in the block that the growth may move.
  bool inside = data.data && text >= data.data && text < data.data + data.count;
  size_t offset = inside ? static_cast<size_t>(text - data.data) : 0;
  if (!data.Add(k)) return false;
  if (inside) text = data.data + offset;
  std::wmemcpy(data.data + at, text, k);
  stringCount++;
  return true;
}

bool StringList::GetString(const wchar_t** out) {
  if (readPos >= data.count) {
    if (out) *out = nullptr;
    return false;
  }
  const wchar_t* text = data.data + readPos;
  readPos += TextLength(text) + 1;
  if (out) *out = text;
  return true;
}

void StringList::Reset() {
  readPos = 0;
  data.Reset();
  stringCount = 0;
}
