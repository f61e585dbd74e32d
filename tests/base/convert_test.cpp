// Code-page and UTF-8 conversion, numbers in text and the locale's case rules.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

#include "base/convert.h"

namespace {

const wchar_t kSentinel = 0x7E7E;

bool Utf8Valid(const std::string& bytes) {
  return IsValidUtf8(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<unsigned>(bytes.size()));
}

std::wstring IntText(int64_t value, unsigned size) {
  wchar_t buffer[32];
  std::wmemset(buffer, kSentinel, 32);
  Int64ToText(value, buffer, size);
  for (unsigned i = size; i < 32; i++) EXPECT_EQ(buffer[i], kSentinel) << "unit " << i;
  return buffer;
}

}  // namespace

TEST(ToWide, CutTextKeepsItsBeginningAndReportsFalse) {
  wchar_t buffer[16];
  std::wmemset(buffer, kSentinel, 16);
  EXPECT_FALSE(ToWide("0123456789", buffer, 5));
  EXPECT_STREQ(buffer, L"0123");
  EXPECT_EQ(buffer[5], kSentinel);

  EXPECT_TRUE(ToWide("0123456789", buffer, 11));
  EXPECT_STREQ(buffer, L"0123456789");

  // With no room at all nothing is written and nothing has converted.
  std::wmemset(buffer, kSentinel, 16);
  EXPECT_FALSE(ToWide("x", buffer, 0));
  EXPECT_EQ(buffer[0], kSentinel);
  EXPECT_FALSE(ToNarrow(L"x", reinterpret_cast<char*>(buffer), 0));
  EXPECT_EQ(buffer[0], kSentinel);
}

TEST(ToNarrow, CutsAndReplacesWhatTheCodePageLacksWithoutFailing) {
  char narrow[16];
  std::memset(narrow, 'X', sizeof narrow);
  EXPECT_FALSE(ToNarrow(L"abcdefgh", narrow, 4));
  EXPECT_STREQ(narrow, "abc");
  EXPECT_EQ(narrow[4], 'X');

  // A CJK ideograph is outside the western ANSI code pages of the test prefix.
  ASSERT_NE(GetACP(), 932u);
  EXPECT_TRUE(ToNarrow(L"a\x4E2D" L"b", narrow, sizeof narrow));
  EXPECT_EQ(std::strlen(narrow), 3u);
  EXPECT_EQ(narrow[0], 'a');
  EXPECT_NE(narrow[1], 0);
  EXPECT_EQ(narrow[2], 'b');
}

TEST(IsValidUtf8, ChecksLeadBytesAndContinuations) {
  EXPECT_TRUE(Utf8Valid("\xC3\xA9"));
  EXPECT_FALSE(Utf8Valid("\xC3"));
  EXPECT_FALSE(Utf8Valid("\x80"));
  EXPECT_FALSE(Utf8Valid("\xFF"));
  EXPECT_FALSE(Utf8Valid("\xFE\x80\x80\x80\x80\x80\x80"));
  EXPECT_TRUE(Utf8Valid("\xF8\x88\x80\x80\x80"));      // 5-byte form
  EXPECT_TRUE(Utf8Valid("\xFC\x84\x80\x80\x80\x80"));  // 6-byte form
  EXPECT_TRUE(Utf8Valid("\xC0\x80"));                  // overlong
  EXPECT_TRUE(Utf8Valid("\xED\xA0\x80"));              // encoded surrogate
  EXPECT_TRUE(Utf8Valid(""));
  EXPECT_FALSE(Utf8Valid("a\xE2\x82" "b"));  // continuation replaced by a letter
  EXPECT_FALSE(Utf8Valid("ok\xE2\x82"));     // sequence cut by the end
  // Only the first n bytes count, even when more follow in memory.
  EXPECT_FALSE(IsValidUtf8(reinterpret_cast<const unsigned char*>("\xC3\xA9"), 1));
}

TEST(Utf8ToWide, DecodesEachSequenceOrReplacesIt) {
  struct Case {
    const char* bytes;
    const wchar_t* text;
    bool faithful;
  };
  const Case cases[] = {
      {"A\xC3\xA9\xE2\x82\xAC", L"A\x00e9\x20ac", true},
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00", true},
      {"\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF", true},  // U+10FFFF
      {"", L"", true},
      {"A\xFF" "B", L"A\xFFFD" L"B", false},
      {"A\x80" "B", L"A\xFFFD" L"B", false},                 // stray continuation
      {"AB\xE2\x82", L"AB\xFFFD", false},                    // cut by the end
      {"\xE2\x82" "A", L"\xFFFD" L"A", false},               // cut by a letter
      {"\xF8\x88\x80\x80\x80", L"\xFFFD", false},            // 5-byte form
      {"\xC0\x80", L"\xFFFD", false},                        // overlong
      {"A\xF4\x90\x80\x80" "B", L"A\xFFFD" L"B", false},     // above U+10FFFF
  };
  for (const Case& c : cases) {
    unsigned n = static_cast<unsigned>(std::strlen(c.bytes)), length = 0;
    // Room for exactly n + 1 units, then sentinels that must stay.
    std::wstring text(n + 4, kSentinel);
    bool faithful =
        Utf8ToWide(reinterpret_cast<const unsigned char*>(c.bytes), n, &text[0], length);
    EXPECT_EQ(text.c_str(), std::wstring(c.text)) << c.bytes;
    EXPECT_EQ(length, std::wcslen(c.text)) << c.bytes;
    EXPECT_EQ(text.substr(n + 1), std::wstring(3, kSentinel)) << c.bytes;
    EXPECT_EQ(faithful, c.faithful) << c.bytes;
  }
}

TEST(ParseInt64, ReadsSignAndDigitsUpToTheFirstOtherCharacter) {
  EXPECT_EQ(ParseInt64(L"-12a"), -12);
  EXPECT_EQ(ParseInt64(L" 12"), 0);
  EXPECT_EQ(ParseInt64(L"+12"), 0);
  EXPECT_EQ(ParseInt64(L""), 0);
  EXPECT_EQ(ParseInt64(nullptr), 0);
  EXPECT_EQ(ParseInt64(L"9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseInt64(L"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ParseInt64(L"18446744073709551617"), 1);  // wraps silently
  EXPECT_EQ(ParseInt64(L"\xFF11"), 0);                // full-width digits are not digits
}

TEST(Int64ToText, KeepsTheLowestDigitsWhenCut) {
  EXPECT_EQ(IntText(-305, 4), L"-05");
  EXPECT_EQ(IntText(-305, 5), L"-305");
  EXPECT_EQ(IntText(0, 2), L"0");
  EXPECT_EQ(IntText(12345, 3), L"45");
  EXPECT_EQ(IntText(7, 1), L"");
  EXPECT_EQ(IntText(INT64_MIN, 32), L"-9223372036854775808");
  wchar_t untouched = kSentinel;
  Int64ToText(5, &untouched, 0);
  EXPECT_EQ(untouched, kSentinel);
}

TEST(AsciiUpper, MapsOnlyAsciiLettersWhileToUpperCharFollowsTheLocale) {
  // The neighbours of the letter ranges.
  EXPECT_TRUE(IsAsciiLetter(L'a') && IsAsciiLetter(L'Z'));
  EXPECT_FALSE(IsAsciiLetter(L'@') || IsAsciiLetter(L'[') || IsAsciiLetter(L'`') ||
               IsAsciiLetter(L'{') || IsAsciiLetter(L'\x00e9'));

  EXPECT_EQ(AsciiUpper(L'z'), L'Z');
  EXPECT_EQ(AsciiUpper(L'{'), L'{');
  EXPECT_EQ(AsciiUpper(L'\x00df'), L'\x00df');  // sharp s
  EXPECT_EQ(AsciiUpper(L'\x00e9'), L'\x00e9');
  EXPECT_TRUE(IsBlank(L' ') && IsBlank(L'\t'));
  EXPECT_FALSE(IsBlank(L'\n') || IsBlank(L'\x00a0') || IsBlank(0));

  EXPECT_EQ(ToUpperChar(L'a'), L'A');
  EXPECT_EQ(ToUpperChar(L'\x00e9'), L'\x00c9');
  EXPECT_EQ(ToUpperChar(L'\x044f'), L'\x042f');  // Cyrillic ya
}

TEST(CompareNoCase, IgnoresCaseAndOrdersTexts) {
  EXPECT_EQ(CompareNoCase(L"COMBOBOX", L"ComboBox"), 0);
  EXPECT_EQ(CompareNoCase(L"\x00e9t\x00e9", L"\x00c9T\x00c9"), 0);
  EXPECT_EQ(CompareNoCase(L"a", L"B"), -1);
  EXPECT_EQ(CompareNoCase(L"b", L"A"), 1);
  EXPECT_EQ(CompareNoCase(L"ab", L"abc"), -1);
  EXPECT_EQ(CompareNoCase(nullptr, L"a"), -2);
}

TEST(CompareNoCaseN, ComparesAtMostNCharactersAndStopsAtAShortText) {
  EXPECT_EQ(CompareNoCaseN(L"ABCdef", L"abcxyz", 3), 0);
  EXPECT_EQ(CompareNoCaseN(L"ABCdef", L"abcxyz", 4), -1);
  EXPECT_EQ(CompareNoCaseN(L"abcxyz", L"ABCdef", 4), 1);
  EXPECT_EQ(CompareNoCaseN(L"ab", L"abc", 5), -1);
  EXPECT_EQ(CompareNoCaseN(L"ab", L"AB", 5), 0);
  EXPECT_EQ(CompareNoCaseN(L"ab", L"abc", 2), 0);
  EXPECT_EQ(CompareNoCaseN(L"x", L"y", 0), 0);
}
