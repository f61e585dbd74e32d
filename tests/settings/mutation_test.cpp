// Seeded mutations of text and ini files in every encoding: the reader never reads past its
// input (placed right before a no-access page), its lines keep their promises, and whatever the
// store loads it saves back unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "guarded.h"
#include "settings/store.h"
#include "settings/textfile.h"
#include "settings_fixture.h"
#include "testenv.h"

namespace {

std::string Utf16(const std::wstring& text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t ch : text) {
    char low = static_cast<char>(ch & 0xFF), high = static_cast<char>(ch >> 8);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

// Ini files in each encoding the reader knows, with every kind of line it meets.
std::vector<std::string> Seeds() {
  const std::wstring text =
      L"; comment\r\n[Section]\r\nHKCU\\Setup\\Links\\Desktop=1\r\n"
      L"HKCU\\Setup\\MenuItems\\AlwaysArc=\"*.iso;*.img\"\r\nData=bin:00ff10\r\n"
      L"Name=\u00E9t\u00E9 \u4E2D\u6587 \U0001F600\r\n  indented=1\r\n1digit=2\r\nnoequals\r\n"
      L"Global\\Integration=0\r\nKey = spaced value \t\r\nOpen=\"abc\r\n\r\n\r\nLast=end";
  std::string ansi;
  for (wchar_t ch : text) ansi += ch < 0x80 ? static_cast<char>(ch) : '\xE9';
  std::string utf8 = "\xEF\xBB\xBF";
  char buffer[1024];
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), buffer,
                              sizeof buffer, nullptr, nullptr);
  utf8.append(buffer, n);
  return {Utf16(text, false), Utf16(text, true), utf8, utf8.substr(3), ansi};
}

std::string Mutate(std::string bytes, std::mt19937& random) {
  auto pick = [&random](size_t n) { return n ? static_cast<size_t>(random() % n) : 0; };
  int steps = 1 + static_cast<int>(random() % 4);
  for (int i = 0; i < steps; i++) {
    switch (random() % 9) {
      case 0:  // flip a byte
        if (!bytes.empty()) bytes[pick(bytes.size())] ^= static_cast<char>(1 + random() % 255);
        break;
      case 1:  // a NUL byte
        bytes.insert(pick(bytes.size() + 1), 1, '\0');
        break;
      case 2:  // odd or short length
        bytes.resize(pick(bytes.size() + 1));
        break;
      case 3:  // a broken or foreign mark
      {
        static const std::string marks = "\xEF\xBB\xBF\xFF\xFE\xFE\xFF";
        size_t from = random() % 5, count = 1 + random() % 3;
        bytes.replace(0, random() % 4, marks.substr(from, count));
      }
        break;
      case 4:  // a giant line
        bytes.insert(pick(bytes.size() + 1), 20000 + random() % 50000,
                     static_cast<char>(random()));
        break;
      case 5:  // lone CR, LF or quote runs
        bytes.insert(pick(bytes.size() + 1), 1 + random() % 6, "\r\n\"= \t"[random() % 6]);
        break;
      case 6:  // a slice copied elsewhere
        if (!bytes.empty()) {
          size_t from = pick(bytes.size());
          std::string slice = bytes.substr(from, random() % 64);
          bytes.insert(pick(bytes.size() + 1), slice);
        }
        break;
      case 7:  // high bytes that look like UTF-8 leads or continuations
        bytes.insert(pick(bytes.size() + 1), 1, "\x80\xC3\xE4\xF0\xF8\xFC\xFE\xBF"[random() % 8]);
        break;
      default:  // random garbage
        for (int k = random() % 32; k > 0; k--)
          bytes.insert(pick(bytes.size() + 1), 1, static_cast<char>(random()));
        break;
    }
  }
  return bytes;
}

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

using IniMutationTest = IniSearchTest;

TEST_F(IniMutationTest, StoreSavesWhatItLoadedFromDamagedFiles) {
  std::mt19937 random(8122026);
  std::vector<std::string> seeds = Seeds();
  int saved = 0;
  for (int i = 0; i < 400; i++) {
    SCOPED_TRACE("case " + std::to_string(i));
    std::string bytes = Mutate(seeds[i % seeds.size()], random);
    LoadFromProgramFolder(bytes);
    ASSERT_TRUE(settingsStore.active);
    std::vector<IniLine> loaded = StoreEntries();
    for (const IniLine& line : loaded) {
      wchar_t first = line.key[0];
      ASSERT_TRUE((first >= L'A' && first <= L'Z') || (first >= L'a' && first <= L'z'));
      ASSERT_EQ(line.key.find(L'='), std::wstring::npos);
      ASSERT_LE(line.kind, 2u);
    }
    // Saved even where the damaged file switched saving off, unless some of it could not be
    // decoded: the file then stays as it was.
    settingsStore.saveSettings = 1;
    if (settingsStore.loadIncomplete) {
      ASSERT_FALSE(SaveIni());
      ASSERT_EQ(ReadFileBytes(programIni()), bytes);
      continue;
    }
    ASSERT_TRUE(SaveIni());
    saved++;
    FreeIni();
    LoadIni();
    std::vector<IniLine> reloaded = StoreEntries();
    std::stable_sort(loaded.begin(), loaded.end(),
                     [](const IniLine& a, const IniLine& b) { return a.key < b.key; });
    ASSERT_EQ(reloaded.size(), loaded.size());
    for (size_t k = 0; k < loaded.size(); k++) ASSERT_EQ(reloaded[k], loaded[k]) << "entry " << k;
  }
  // Most damage still decodes, so the round trip is what the cases mostly test.
  EXPECT_GT(saved, 200);
}
