// Encoding detection, decoding and line cutting of the text file reader, on good and damaged
// input.
#include "settings/textfile.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "guarded.h"
#include "importpatch.h"
#include "settings_fixture.h"
#include "testenv.h"

namespace {

std::vector<std::wstring> Lines(StringList& list) {
  std::vector<std::wstring> lines;
  const wchar_t* line;
  while (list.GetString(&line)) lines.push_back(line);
  return lines;
}

std::vector<std::wstring> Decode(const std::string& bytes, bool* faithful = nullptr) {
  StringList list;
  bool all = DecodeTextLines(reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<unsigned>(bytes.size()), list);
  if (faithful) *faithful = all;
  return Lines(list);
}

TextEncoding Detect(const std::string& bytes) {
  return DetectTextEncoding(reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<unsigned>(bytes.size()));
}

std::wstring FromAnsi(const std::string& bytes) {
  wchar_t buffer[64] = {};
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), buffer, 63);
  return buffer;
}

using V = std::vector<std::wstring>;

void ExpectWellFormedLines(StringList& list) {
  const wchar_t* line;
  while (list.GetString(&line)) {
    size_t length = std::wcslen(line);
    ASSERT_GT(length, 0u);
    ASSERT_EQ(std::wcspbrk(line, L"\r\n"), nullptr);
    ASSERT_NE(line[length - 1], L' ');
    ASSERT_NE(line[length - 1], L'\t');
  }
}

}  // namespace

TEST(TextEncodingDetection, MarksCountOnlyWithContentThatFitsThem) {
  struct Case {
    const char* what;
    std::string bytes;
    TextEncoding expected;
  } cases[] = {
      {"ini written by the store", std::string("\xFF\xFE" "A\0=\0" "1\0", 8), kTextUtf16Le},
      {"LE mark, CR LF only", std::string("\xFF\xFE\x0D\x0D\x0A\x0A", 6), kTextAnsi},
      {"LE mark, all-CJK text", std::string("\xFF\xFE\x00\x4E\x01\x9F", 6), kTextAnsi},
      {"LE mark, one low high byte late", std::string("\xFF\xFE\x00\x4E\x41\x00", 6),
       kTextUtf16Le},
      {"BE mark with ASCII", std::string("\xFE\xFF\x00\x41", 4), kTextUtf16Be},
      {"BE mark, all-CJK text", std::string("\xFE\xFF\x4E\x00", 4), kTextAnsi},
      {"bare LE mark", "\xFF\xFE", kTextAnsi},
      {"LE mark and one byte", std::string("\xFF\xFE\x00", 3), kTextAnsi},
      {"UTF-8 mark and ASCII", "\xEF\xBB\xBF" "ab", kTextUtf8},
      {"UTF-8 mark and 5-byte form", "\xEF\xBB\xBF\xF8\x88\x80\x80\x80", kTextUtf8},
      {"UTF-8 mark, cut sequence", "\xEF\xBB\xBF" "a\xC3", kTextAnsi},
      {"UTF-8 mark, lone continuation", "\xEF\xBB\xBF\x80", kTextAnsi},
      {"bare UTF-8 mark", "\xEF\xBB\xBF", kTextAnsi},
      {"UTF-8 without mark", "caf\xC3\xA9", kTextAnsi},
      {"empty", "", kTextAnsi},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Detect(c.bytes), c.expected);
  }
}

TEST(TextDecoding, EachEncodingGivesTheSameLinesWithoutItsMark) {
  // "é" and the CJK character 中 after ASCII, so that the UTF-16 tests see a zero high byte.
  EXPECT_EQ(Decode(std::string("\xFF\xFE" "a\0\xE9\0\r\0\n\0\x2D\x4E", 12)),
            (V{L"a\u00E9", L"\u4E2D"}));
  EXPECT_EQ(Decode(std::string("\xFE\xFF\0a\0\xE9\0\n\x4E\x2D", 10)),
            (V{L"a\u00E9", L"\u4E2D"}));
  EXPECT_EQ(Decode("\xEF\xBB\xBF" "a\xC3\xA9\n\xE4\xB8\xAD"), (V{L"a\u00E9", L"\u4E2D"}));
  EXPECT_EQ(Decode("\xEF\xBB\xBF" "key=1\r\n"), V{L"key=1"});
  EXPECT_EQ(Decode("key=1\r\n"), V{L"key=1"});
}

TEST(TextDecoding, TwoByteLittleEndianMarkIsReadAsAnsiText) {
  EXPECT_EQ(Decode("\xFF\xFE"), V{FromAnsi("\xFF\xFE")});
}

TEST(TextDecoding, MarkWithInvalidUtf8IsKeptAsAnsi) {
  EXPECT_EQ(Decode("\xEF\xBB\xBF" "a\xC3"), V{FromAnsi("\xEF\xBB\xBF" "a\xC3")});
}

// What cannot be decoded becomes U+FFFD, so the lines after it are still read, and the decoding
// says so: a file read that way must not be written back.
TEST(TextDecoding, UndecodableBytesAndZerosAreReplacedAndReported) {
  struct Case {
    const char* what;
    std::string bytes;
    V lines;
    bool faithful;
  } cases[] = {
      {"ANSI zero byte", std::string("ab\0cd\nef", 8), {L"ab\uFFFDcd", L"ef"}, false},
      {"UTF-16 zero unit",
       std::string("\xFF\xFE"
                   "a\0\0\0b\0",
                   8),
       {L"a\uFFFDb"},
       false},
      {"UTF-16 odd last byte",
       std::string("\xFF\xFE"
                   "a\0b\0c",
                   7),
       {L"ab"},
       false},
      {"UTF-8 5-byte form",
       "\xEF\xBB\xBF"
       "a\xF8\x88\x80\x80\x80"
       "b\nc=1",
       {L"a\uFFFDb", L"c=1"},
       false},
      {"UTF-8 overlong C0 80",
       "\xEF\xBB\xBF"
       "a\xC0\x80"
       "b\nc",
       {L"a\uFFFDb", L"c"},
       false},
      {"UTF-8 above U+10FFFF",
       "\xEF\xBB\xBF"
       "a\xF4\x90\x80\x80"
       "b",
       {L"a\uFFFDb"},
       false},
      {"UTF-8 zero byte",
       std::string("\xEF\xBB\xBF"
                   "a\0b",
                   6),
       {L"a\uFFFDb"},
       false},
      {"UTF-8 four-byte form",
       "\xEF\xBB\xBF"
       "a\xF0\x9F\x98\x80",
       {L"a\U0001F600"},
       true},
      {"plain ANSI", "a=1\r\nb=2", {L"a=1", L"b=2"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool faithful = !c.faithful;
    EXPECT_EQ(Decode(c.bytes, &faithful), c.lines);
    EXPECT_EQ(faithful, c.faithful);
  }
}

TEST(TextLineCutting, TrimsLineEndsAndDropsEmptyLines) {
  EXPECT_EQ(Decode("a  \t\r\n\r\n\r\nb"), (V{L"a", L"b"}));
  EXPECT_EQ(Decode("  x"), V{L"  x"});
  EXPECT_EQ(Decode("one\rtwo\n\n three \t \n \t\n"), (V{L"one", L"two", L" three"}));
  EXPECT_EQ(Decode("a \tb"), V{L"a \tb"});
  EXPECT_EQ(Decode("\r\n\r\n"), V{});
  EXPECT_EQ(Decode(""), V{});
}

TEST(ReadTextFile, ReadsWholeFileAcrossPieces) {
  TempFolder temp;
  std::string bytes = "\xFF\xFE";
  std::vector<std::wstring> expected;
  for (int i = 0; i < 3000; i++) {
    std::wstring line = L"Line" + std::to_wstring(i) + L"=\u00E9";
    expected.push_back(line);
    for (wchar_t ch : line + L"\r\n") {
      bytes += static_cast<char>(ch & 0xFF);
      bytes += static_cast<char>(ch >> 8);
    }
  }
  ASSERT_GT(bytes.size(), 40000u);
  WriteFileBytes(temp / L"big.txt", bytes);
  StringList list;
  bool complete = false;
  ASSERT_TRUE(ReadTextFile((temp / L"big.txt").c_str(), list, complete));
  EXPECT_EQ(Lines(list), expected);
  EXPECT_TRUE(complete);

  // Another program's byte-range lock refuses the second piece: what came before is kept, and
  // the read is reported incomplete.
  StringList partList;
  {
    ReadRefusal refusal(0, ERROR_LOCK_VIOLATION, 4096);
    ASSERT_TRUE(ReadTextFile((temp / L"big.txt").c_str(), partList, complete));
  }
  EXPECT_FALSE(complete);
  std::vector<std::wstring> part = Lines(partList);
  ASSERT_FALSE(part.empty());
  EXPECT_LT(part.size(), 300u);
  EXPECT_EQ(part.front(), expected.front());
}

TEST(ReadTextFile, MissingFileIsFalseAndEmptyFileIsTrue) {
  TempFolder temp;
  StringList list;
  bool complete = true;
  EXPECT_FALSE(ReadTextFile((temp / L"missing.txt").c_str(), list, complete));
  EXPECT_EQ(list.stringCount, 0u);
  EXPECT_FALSE(complete);
  WriteFileBytes(temp / L"empty.txt", "");
  EXPECT_TRUE(ReadTextFile((temp / L"empty.txt").c_str(), list, complete));
  EXPECT_EQ(list.stringCount, 0u);
  EXPECT_TRUE(complete);
}

// Seeded damage, each form ending right before a no-access page: the reader never reads past its
// input, and its lines keep their promises.
TEST(TextFileMutation, DamagedInputNeverReadsPastItsEnd) {
  std::mt19937 random(20261208);
  std::vector<std::string> seeds = Seeds();
  for (int i = 0; i < 4000; i++) {
    std::string bytes = Mutate(seeds[i % seeds.size()], random);
    GuardedBuffer guarded(bytes.size(), bytes.data());
    guarded.MakeReadOnly();
    SCOPED_TRACE("case " + std::to_string(i));
    StringList lines;
    DecodeTextLines(reinterpret_cast<const unsigned char*>(guarded.data()), static_cast<unsigned>(bytes.size()), lines);
    ExpectWellFormedLines(lines);
    if (HasFatalFailure()) return;
  }
}
