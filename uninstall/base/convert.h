// Conversions between the ANSI code page, UTF-8 and UTF-16, decimal numbers, and the
// case-insensitive comparisons of the user's locale. All write into caller buffers of a stated
// size, cut rather than overflow, and keep no state.
#pragma once

#include <cstdint>

bool ToWide(const char* src, wchar_t* dst, unsigned size);
bool ToNarrow(const wchar_t* src, char* dst, unsigned size);
bool IsValidUtf8(const unsigned char* data, unsigned n);
// The character that stands for a sequence no text can come from.
constexpr wchar_t kReplacementChar = 0xFFFD;
// Decodes n bytes of UTF-8 into text, which holds n + 1 units (no byte gives more than one), and
// terminates it; length receives the units written. Sequences no UTF-16 text can come from (5- and
// 6-byte forms, overlong forms such as C0 80, values above U+10FFFF, cut or stray bytes) become
// one kReplacementChar each; false when that happened.
bool Utf8ToWide(const unsigned char* data, unsigned n, wchar_t* text, unsigned& length);
int64_t ParseInt64(const wchar_t* text);
void Int64ToText(int64_t value, wchar_t* out, unsigned size);
bool IsAsciiLetter(wchar_t ch);
// A space or a tab: what separates words on a command line and in a language file's lines.
bool IsBlank(wchar_t ch);
wchar_t AsciiUpper(wchar_t ch);
wchar_t ToUpperChar(wchar_t ch);
// -1, 0 or 1; -2 when the comparison fails.
int CompareNoCase(const wchar_t* a, const wchar_t* b);
int CompareNoCaseN(const wchar_t* a, const wchar_t* b, unsigned n);
