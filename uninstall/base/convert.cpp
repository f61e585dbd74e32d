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

bool Utf8ToWide(const unsigned char* data, unsigned n, wchar_t* text, unsigned& length) {
  // Four bytes give two units, fewer bytes one.
  unsigned out = 0;
  bool faithful = true;
  for (unsigned i = 0; i < n;) {
    unsigned char lead = data[i];
    unsigned ones = 0;
    while (ones < 8 && (lead & (0x80u >> ones))) ones++;
    unsigned length = ones == 0 ? 1 : ones;  // a stray continuation byte stands alone
    uint32_t c = lead & (0xFFu >> (ones + 1));
    unsigned j = 1;
    for (; j < length && i + j < n && (data[i + j] & 0xC0) == 0x80; j++)
      c = (c << 6) | (data[i + j] & 0x3F);
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ones == 1 || length > 4 || j < length || c < kSmallest[length] || c > 0x10FFFF) {
      text[out++] = kReplacementChar;
      faithful = false;
      i += j;  // the lead and the continuation bytes that came with it
      continue;
    }
    i += length;
    if (c < 0x10000) {
      text[out++] = static_cast<wchar_t>(c);
    } else {
      text[out++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      text[out++] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    }
  }
  text[out] = 0;
  length = out;
  return faithful;
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

bool IsBlank(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

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
