// Bounded copy, append, format and message substitution: cut, terminated, never past the buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "base/text.h"

namespace {

const wchar_t kSentinel = 0x7E7E;

// A buffer pre-filled with a sentinel, so writes past the allowed size show.
struct Buffer {
  wchar_t text[64];
  Buffer() { std::wmemset(text, kSentinel, 64); }
  bool UntouchedFrom(unsigned index) const {
    for (unsigned i = index; i < 64; i++)
      if (text[i] != kSentinel) return false;
    return true;
  }
};

}  // namespace

TEST(CopyText, CutsAndTerminatesWithinSize) {
  Buffer b;
  CopyText(b.text, L"abcdef", 4);
  EXPECT_STREQ(b.text, L"abc");
  EXPECT_TRUE(b.UntouchedFrom(4));

  Buffer one;
  CopyText(one.text, L"abc", 1);
  EXPECT_EQ(one.text[0], 0);
  EXPECT_TRUE(one.UntouchedFrom(1));

  Buffer none;
  CopyText(none.text, L"abc", 0);
  EXPECT_TRUE(none.UntouchedFrom(0));

  char narrow[8];
  std::memset(narrow, 'X', sizeof narrow);
  CopyText(narrow, "abcdefghij", 6);
  EXPECT_STREQ(narrow, "abcde");
  EXPECT_EQ(narrow[6], 'X');
}

TEST(AppendText, AppendsUpToSizeAndLeavesAFullBufferAlone) {
  Buffer b;
  CopyText(b.text, L"ab", 64);
  AppendText(b.text, L"cdef", 5);
  EXPECT_STREQ(b.text, L"abcd");
  EXPECT_TRUE(b.UntouchedFrom(5));

  // The destination already fills (or overfills) the stated size: nothing changes.
  Buffer full;
  CopyText(full.text, L"abcdef", 64);
  AppendText(full.text, L"xyz", 4);
  EXPECT_STREQ(full.text, L"abcdef");
  AppendText(full.text, L"xyz", 6);
  EXPECT_STREQ(full.text, L"abcdef");
}

TEST(StartsWith, ComparesUnitByUnitUpToThePrefixsEnd) {
  EXPECT_TRUE(StartsWith(L"HKCU\\Software", L"HKCU\\"));
  EXPECT_TRUE(StartsWith(L"abc", L""));
  EXPECT_FALSE(StartsWith(L"ab", L"abc"));
  EXPECT_FALSE(StartsWith(L"hkcu\\x", L"HKCU\\"));
}

TEST(FormatText, FormatsWideStringsAndNumbers) {
  Buffer b;
  EXPECT_EQ(FormatText(b.text, 64, L"%s=%02d %u", L"n\x00e9", 7, 4000000000u), 16);
  EXPECT_STREQ(b.text, L"n\x00e9=07 4000000000");

  char narrow[32];
  EXPECT_EQ(FormatText(narrow, sizeof narrow, "%s-%d", "ab", -3), 5);
  EXPECT_STREQ(narrow, "ab--3");
}

TEST(FormatText, CutTextKeepsAllButTheLastUnitAndReportsMinusOne) {
  Buffer b;
  EXPECT_EQ(FormatText(b.text, 5, L"%s", L"abcdefgh"), -1);
  EXPECT_STREQ(b.text, L"abcd");
  EXPECT_TRUE(b.UntouchedFrom(5));

  // Exactly size - 1 characters still fit.
  Buffer exact;
  EXPECT_EQ(FormatText(exact.text, 5, L"%d", 1234), 4);
  EXPECT_STREQ(exact.text, L"1234");

  Buffer one;
  EXPECT_EQ(FormatText(one.text, 1, L"x"), -1);
  EXPECT_EQ(one.text[0], 0);
  EXPECT_TRUE(one.UntouchedFrom(1));

  Buffer none;
  EXPECT_EQ(FormatText(none.text, 0, L"x"), -1);
  EXPECT_TRUE(none.UntouchedFrom(0));

  char narrow[8];
  std::memset(narrow, 'X', sizeof narrow);
  EXPECT_EQ(FormatText(narrow, 4, "%s", "abcdef"), -1);
  EXPECT_STREQ(narrow, "abc");
  EXPECT_EQ(narrow[4], 'X');
}

TEST(SubstituteText, ReplacesPercentSInOrderAndCollapsesDoublePercent) {
  Buffer b;
  const wchar_t* args[] = {L"C:\\Program Files\\Ombrix", L"uninstall.exe"};
  SubstituteText(b.text, 64, L"%s\\%s: 100%%", args, 2);
  EXPECT_STREQ(b.text, L"C:\\Program Files\\Ombrix\\uninstall.exe: 100%");

  Buffer one;
  SubstituteText(one.text, 64, L"Cannot remove \"%s\".", L"a.exe");
  EXPECT_STREQ(one.text, L"Cannot remove \"a.exe\".");
}

TEST(SubstituteText, HostileFormatsReadNoMoreThanTheArguments) {
  // Other conversions are written as they stand; extra "%s" take nothing.
  Buffer b;
  SubstituteText(b.text, 64, L"%d %n %p %x %ls %s %s %s %", L"A");
  EXPECT_STREQ(b.text, L"%d %n %p %x %ls A   %");

  // A null argument list or null arguments count as empty, a null format as an empty one.
  Buffer nulls;
  SubstituteText(nulls.text, 64, L"[%s|%s]", nullptr, 2);
  EXPECT_STREQ(nulls.text, L"[|]");
  const wchar_t* holes[] = {nullptr, L"x"};
  SubstituteText(nulls.text, 64, L"[%s|%s]", holes, 2);
  EXPECT_STREQ(nulls.text, L"[|x]");
  SubstituteText(nulls.text, 64, nullptr, L"x");
  EXPECT_STREQ(nulls.text, L"");

  // "%%s" is a literal percent followed by s, not a substitution.
  Buffer escaped;
  SubstituteText(escaped.text, 64, L"%%s%s%%%", L"v");
  EXPECT_STREQ(escaped.text, L"%sv%%");
}

TEST(SubstituteText, CutsFormatAndArgumentsAtTheBuffer) {
  Buffer b;
  SubstituteText(b.text, 8, L"ab%scd", L"0123456789");
  EXPECT_STREQ(b.text, L"ab01234");
  EXPECT_TRUE(b.UntouchedFrom(8));

  Buffer one;
  SubstituteText(one.text, 1, L"%s", L"x");
  EXPECT_EQ(one.text[0], 0);
  EXPECT_TRUE(one.UntouchedFrom(1));

  Buffer none;
  SubstituteText(none.text, 0, L"%s", L"x");
  EXPECT_TRUE(none.UntouchedFrom(0));

  // A long argument into a message-sized buffer.
  std::wstring longArg(5000, L'z');
  wchar_t message[1024];
  SubstituteText(message, 1024, L"<%s>", longArg.c_str());
  EXPECT_EQ(std::wcslen(message), 1023u);
  EXPECT_EQ(message[0], L'<');
  EXPECT_EQ(message[1022], L'z');
}
