// Thousands of damaged language files, each ending right before a no-access page, so that any
// read past the end faults; afterwards the table must be consistent.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "guarded.h"
#include "langtest.h"
#include "localisation/langfile.h"
#include "localisation/messages.h"
#include "testenv.h"

namespace {

class LanguageFileMutation : public ::testing::Test {
 protected:
  FaultGuard guard_;
};

void ExpectConsistentTable() {
  const LanguageFile& file = languageFile;
  ASSERT_EQ(file.byKey.count, file.entries.count);
  std::vector<bool> seen(file.entries.count, false);
  static wchar_t text[kLanguageValueUnits + 1];
  for (unsigned i = 0; i < file.byKey.count; i++) {
    unsigned index = file.byKey[i];
    ASSERT_LT(index, file.entries.count);
    ASSERT_FALSE(seen[index]);
    seen[index] = true;
    const LanguageEntry& entry = file.entries[index];
    ASSERT_NE(entry.key, nullptr);
    ASSERT_NE(entry.text, nullptr);
    ASSERT_LE(std::strlen(entry.key), 49u);
    ASSERT_LE(std::wcslen(entry.text), kLanguageValueUnits);
    if (i > 0) {
      ASSERT_LE(std::strcmp(file.entries[file.byKey[i - 1]].key, entry.key), 0);
    }
    ASSERT_TRUE(LookupText(entry.key, text, kLanguageValueUnits + 1)) << entry.key;
  }
}

class Mutator {
 public:
  explicit Mutator(unsigned seed) : random_(seed) {}

  unsigned Below(size_t n) { return n == 0 ? 0 : static_cast<unsigned>(random_() % n); }

  // One to four damages of the kinds seen in real files.
  std::string Damage(std::string bytes, bool wide) {
    unsigned steps = 1 + Below(4);
    for (unsigned s = 0; s < steps; s++) {
      size_t at = Below(bytes.size() + 1);
      switch (Below(9)) {
        case 0:  // cut anywhere, odd or even
          bytes.resize(at);
          break;
        case 1:  // flipped bytes
          for (unsigned k = 0, n = 1 + Below(16); k < n && !bytes.empty(); k++)
            bytes[Below(bytes.size())] ^= static_cast<char>(1 + Below(255));
          break;
        case 2:  // quotes lost
          for (char& ch : bytes)
            if (ch == '"' && Below(2) == 0) ch = ' ';
          break;
        case 3:  // a giant line without an end, maybe a backslash at its end
          bytes.insert(at, Encode(std::wstring(1 + Below(140000), L"xK \\\"%"[Below(6)]), wide));
          break;
        case 4:  // a marker at a block edge
          bytes.insert(std::min(bytes.size(), static_cast<size_t>(8176 * (1 + Below(3)) - Below(30))),
                       Encode(OBX_MARKER_LINE, Below(2) == 0));
          break;
        case 5:  // section and key lines with overlong names
          bytes.insert(at, Encode(L"\r\n:DIALOG " + std::wstring(Below(300), L'D') + L"\r\n" +
                                      std::wstring(Below(200), L'k') + L"\t\"v\"\r\n",
                                  wide));
          break;
        case 6:  // zero units and lone line ends
          bytes.insert(at, std::string(1 + Below(3), Below(2) ? '\0' : '\r'));
          break;
        case 7:  // a single stray byte shifts UTF-16 to odd offsets
          bytes.insert(at, 1, static_cast<char>(Below(256)));
          break;
        default:  // duplicated piece
          if (!bytes.empty()) {
            size_t from = Below(bytes.size());
            bytes.insert(at, bytes.substr(from, Below(4096)));
          }
          break;
      }
    }
    return bytes;
  }

  static std::string Encode(const std::wstring& text, bool wide) {
    return wide ? Utf16Bytes(text) : AnsiBytes(text);
  }

 private:
  std::mt19937 random_;
};

std::vector<std::pair<std::string, bool>> Corpus() {
  std::wstring sample = OBX_MARKER_LINE
      L":STRINGS\r\nIDS_UNINSTTITLE \"Setup\"\r\nIDS_CANNOTOPENLIST \"Cannot open %s\\n\"\r\n"
      L";comment\r\n:DIALOG SETUPDLG\r\nSIZE 110*100\r\nCAPTION \"Caption \\\"q\\\"\"\r\n"
      L":MENU M\r\nIDM_X,x\r\n:DIRECTION RTL\r\nlonely\r\nIDS_BETA beta\\\r\n";
  std::vector<std::pair<std::string, bool>> corpus = {
      {AnsiBytes(L"preamble\r\n" + sample), false},
      {Utf16Bytes(sample, true), true},
      {ReadFileBytes(SampleLanguagePath(L"uninstall.lng")), false},
      {ReadFileBytes(SampleLanguagePath(L"hebrew\\uninstall.lng")), true},
  };
  return corpus;
}

TEST_F(LanguageFileMutation, DamagedFilesInMemoryNeverReadPastTheirEnd) {
  auto corpus = Corpus();
  ASSERT_GT(corpus[2].first.size(), 1000u);
  ASSERT_GT(corpus[3].first.size(), 1000u);
  Mutator mutator(20261208);
  unsigned withEntries = 0;
  const unsigned kRounds = 3000;
  for (unsigned round = 0; round < kRounds; round++) {
    const auto& base = corpus[round % corpus.size()];
    std::string bytes = mutator.Damage(base.first, base.second);
    SCOPED_TRACE(testing::Message() << "round " << round << ", " << bytes.size() << " bytes");
    GuardedBuffer buffer(bytes.size(), bytes.data());
    languageFile.Clear();
    ParseLanguageData(buffer.data(), buffer.size());
    ExpectConsistentTable();
    if (HasFatalFailure()) return;
    if (languageFile.entries.count > 0) withEntries++;
  }
  // Most damaged files keep their marker and so some entries: the parser really ran.
  EXPECT_GT(withEntries, kRounds / 2);
}

TEST_F(LanguageFileMutation, DamagedTextsNeverReadPastTheirEnd) {
  auto corpus = Corpus();
  Mutator mutator(7);
  for (unsigned round = 0; round < 1000; round++) {
    const auto& base = corpus[round % 2];
    std::string bytes = mutator.Damage(base.first, base.second);
    std::wstring text;
    if (base.second) {
      for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>((bytes[i] & 0xFF) | ((bytes[i + 1] & 0xFF) << 8));
    } else {
      for (char ch : bytes) text += static_cast<wchar_t>(ch & 0xFF);
    }
    // No terminator: the last unit sits against the guard page.
    GuardedBuffer buffer(text.size() * sizeof(wchar_t), text.data());
    languageFile.Clear();
    ParseMessageText(reinterpret_cast<const wchar_t*>(buffer.data()), text.size());
    ExpectConsistentTable();
    if (HasFatalFailure()) return;
  }
}

TEST_F(LanguageFileMutation, DamagedFilesOnDiskLoadConsistently) {
  auto corpus = Corpus();
  Mutator mutator(42);
  TempFolder temp;
  std::wstring path = temp / L"uninstall.lng";
  for (unsigned round = 0; round < 300; round++) {
    const auto& base = corpus[round % corpus.size()];
    std::string bytes = mutator.Damage(base.first, base.second);
    WriteFileBytes(path, bytes);
    languageFile.Clear();
    ParseLanguageFile(path.c_str());
    // The file path and the in-memory path agree.
    unsigned fromFile = languageFile.entries.count;
    ExpectConsistentTable();
    if (HasFatalFailure()) return;
    languageFile.Clear();
    ParseLanguageData(bytes.data(), bytes.size());
    ASSERT_EQ(languageFile.entries.count, fromFile) << "round " << round;
  }
}

}  // namespace
