// Conversions between the ANSI code page, UTF-8 and UTF-16, decimal numbers, and the
// case-insensitive comparisons of the user's locale. All write into caller buffers of a stated
// size, cut rather than overflow, and keep no state.
#pragma once

#include <cstdint>

bool ToWide(const char* src, wchar_t* dst, unsigned size);
bool ToNarrow(const wchar_t* src, char* dst, unsigned size);
bool IsValidUtf8(const unsigned char* data, unsigned n);
bool Utf8ToWide(const char* src, wchar_t* dst, unsigned size);
int64_t ParseInt64(const wchar_t* text);
void Int64ToText(int64_t value, wchar_t* out, unsigned size);
bool IsAsciiLetter(wchar_t ch);
wchar_t AsciiUpper(wchar_t ch);
wchar_t ToUpperChar(wchar_t ch);
// -1, 0 or 1; -2 when the comparison fails.
int CompareNoCase(const wchar_t* a, const wchar_t* b);
int CompareNoCaseN(const wchar_t* a, const wchar_t* b, unsigned n);
