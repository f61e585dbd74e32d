#include "base/convert.h"

#include <windows.h>

#include "base/text.h"

namespace {

const DWORD kCompareFlags = NORM_IGNORECASE | SORT_STRINGSORT;
const unsigned kMaxDigits = 20;  // of an unsigned 64-bit value

// Number of leading one-bits of a byte.
unsigned LeadingOnes(unsigned char b) {
  unsigned k = 0;
  while (k < 8 && (b & (0x80u >> k))) k++;
  return k;
}

}  // namespace

bool ToWide(const char* src, wchar_t* dst, unsigned size) {
  // Nothing fits, not even the terminator, so the text cannot have converted.
  if (size == 0) return false;
  dst[0] = 0;
  if (!src) return false;
  int n = MultiByteToWideChar(CP_ACP, 0, src, -1, dst, static_cast<int>(size));
  dst[size - 1] = 0;
  return n != 0;
}

bool ToNarrow(const wchar_t* src, char* dst, unsigned size) {
  if (size == 0) return false;
  dst[0] = 0;
  if (!src) return false;
  int n = WideCharToMultiByte(CP_ACP, 0, src, -1, dst, static_cast<int>(size), nullptr, nullptr);
  dst[size - 1] = 0;
  return n != 0;
}

bool IsValidUtf8(const unsigned char* data, unsigned n) {
  unsigned i = 0;
  while (i < n) {
    unsigned k = LeadingOnes(data[i]);
    if (k == 0) {
      i++;
      continue;
    }
    if (k == 1 || k > 6 || k > n - i) return false;
    for (unsigned j = 1; j < k; j++)
      if ((data[i + j] & 0xC0) != 0x80) return false;
    i += k;
  }
  return true;
}

bool Utf8ToWide(const char* src, wchar_t* dst, unsigned size) {
  if (size == 0) return true;
  unsigned n = 0;
  bool ok = true;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(src ? src : "");
  while (*p) {
    unsigned length;
    unsigned long c;
    if (*p < 0x80) {
      length = 1;
      c = *p;
    } else if ((*p & 0xE0) == 0xC0) {
      length = 2;
      c = *p & 0x1F;
    } else if ((*p & 0xF0) == 0xE0) {
      length = 3;
      c = *p & 0x0F;
    } else if ((*p & 0xF8) == 0xF0) {
      length = 4;
      c = *p & 0x07;
    } else {
      ok = false;
      break;
    }
    // A continuation test also stops at the terminator, so nothing past it is read.
    unsigned j = 1;
    for (; j < length && (p[j] & 0xC0) == 0x80; j++) c = (c << 6) | (p[j] & 0x3F);
    if (j < length) {
      ok = false;
      break;
    }
    if (c < 0x10000) {
      if (n + 1 >= size) break;
      dst[n++] = static_cast<wchar_t>(c);
    } else if (c <= 0x10FFFF) {
      if (n + 2 >= size) break;
      dst[n++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      dst[n++] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      ok = false;
    }
    p += length;
  }
  dst[n] = 0;
  return ok;
}

int64_t ParseInt64(const wchar_t* text) {
  if (!text) return 0;
  bool negative = *text == L'-';
  if (negative) text++;
  uint64_t value = 0;
  for (; *text >= L'0' && *text <= L'9'; text++) value = value * 10 + (*text - L'0');
  if (negative && !(value >> 63)) value = 0 - value;
  return static_cast<int64_t>(value);
}

void Int64ToText(int64_t value, wchar_t* out, unsigned size) {
  if (size == 0) return;
  bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  wchar_t digits[kMaxDigits];
  unsigned count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  // A number too long for the buffer keeps its lowest digits.
  unsigned room = size - 1;
  unsigned n = 0;
  if (negative && room > 0) {
    out[n++] = L'-';
    room--;
  }
  if (count > room) count = room;
  while (count > 0) out[n++] = digits[--count];
  out[n] = 0;
}

bool IsAsciiLetter(wchar_t ch) { return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z'); }

wchar_t AsciiUpper(wchar_t ch) { return ch >= L'a' && ch <= L'z' ? ch - (L'a' - L'A') : ch; }

wchar_t ToUpperChar(wchar_t ch) {
  // The single-character form: the unit stands in for the string address, high word zero.
  LPWSTR upper = CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(ch)));
  return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(upper));
}

int CompareNoCase(const wchar_t* a, const wchar_t* b) {
  return CompareStringW(LOCALE_USER_DEFAULT, kCompareFlags, a, -1, b, -1) - 2;
}

int CompareNoCaseN(const wchar_t* a, const wchar_t* b, unsigned n) {
  // A text shorter than n ends the comparison with its terminator.
  unsigned la = TextLength(a) + 1, lb = TextLength(b) + 1;
  if (la > n) la = n;
  if (lb > n) lb = n;
  return CompareStringW(LOCALE_USER_DEFAULT, kCompareFlags, a, static_cast<int>(la), b,
                        static_cast<int>(lb)) - 2;
}
