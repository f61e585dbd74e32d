// The language file parser: line kinds, values, sections, direction, encodings, the marker scan,
// the cuts, and damaged files.
#include "localisation/langfile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "guarded.h"
#include "langtest.h"
#include "localisation/langmodule.h"
#include "localisation/messages.h"
#include "testenv.h"

namespace {

using LanguageFileTest = ::testing::Test;

TEST_F(LanguageFileTest, KeyLineBeforeAnySectionIsAMessage) {
  ParseMessages(OBX_MARKER_LINE L"IDS_UNINSTTITLE \"Setup\"\r\n");
  ASSERT_EQ(languageFile.entries.count, 1u);
  EXPECT_STREQ(languageFile.entries[0].key, "s:IDS_UNINSTTITLE");
  EXPECT_EQ(EntryText("s:IDS_UNINSTTITLE"), L"Setup");
}

TEST_F(LanguageFileTest, ValuesLoseOuterQuotesAndTrailingBlanksOnly) {
  ParseMessages(OBX_MARKER_LINE
                L"A \"  word  \"   \r\n"
                L"B\t\t  unquoted text \t\r\n"
                L"C,\"comma separated\"\n"
                L"D \"\"\n"
                L"E \"open only\n"
                L"F inner \"quotes\" stay\n");
  EXPECT_EQ(EntryText("s:A"), L"  word  ");
  EXPECT_EQ(EntryText("s:B"), L"unquoted text");
  EXPECT_EQ(EntryText("s:C"), L"comma separated");
  EXPECT_EQ(EntryText("s:D"), L"");
  EXPECT_EQ(EntryText("s:E"), L"open only");
  EXPECT_EQ(EntryText("s:F"), L"inner \"quotes\" stay");
}

TEST_F(LanguageFileTest, EscapesResolveBeforeQuotesAreRemoved) {
  ParseMessages(OBX_MARKER_LINE
                L"A two\\nlines\\tand\\rmore\n"
                L"B ends with an escaped quote\\\"\n"
                L"C \\q and \\\\ and \\\"x\\\"\n"
                L"D trailing backslash\\");
  EXPECT_EQ(EntryText("s:A"), L"two\nlines\tand\rmore");
  EXPECT_EQ(EntryText("s:B"), L"ends with an escaped quote");
  EXPECT_EQ(EntryText("s:C"), L"\\q and \\ and \"x");
  EXPECT_EQ(EntryText("s:D"), L"trailing backslash\\");
}

TEST_F(LanguageFileTest, CommentLinesAndTheMarkerLineMakeNoEntries) {
  ParseMessages(OBX_MARKER_LINE
                L" IDS_INDENTED \"no\"\r\n"
                L"\tIDS_TABBED \"no\"\r\n"
                L";IDS_SEMICOLON \"no\"\r\n"
                L"// IDS_SLASHES \"no\"\r\n"
                L"1IDS_DIGIT \"no\"\r\n"
                L"\r\n"
                L"IDS_REAL \"yes\"\r\n");
  ASSERT_EQ(languageFile.entries.count, 1u);
  EXPECT_EQ(EntryText("s:IDS_REAL"), L"yes");
}

TEST_F(LanguageFileTest, SectionsSetThePrefixOfLaterKeys) {
  ParseMessages(OBX_MARKER_LINE
                L":DIALOG SETUPDLG\r\n"
                L"CAPTION \"Setup\"\r\n"
                L":MENU  \tMAINMENU trailing words\r\n"
                L"IDM_OPEN \"Open\"\r\n"
                L":UNKNOWN WORD\r\n"
                L"IDM_KEPT \"kept\"\r\n"
                L":DIALOGUE X\r\n"
                L"IDM_ALSO \"also kept\"\r\n"
                L":STRINGS\r\n"
                L"IDS_BACK \"back\"\r\n");
  EXPECT_EQ(EntryText("$SETUPDLG:CAPTION"), L"Setup");
  EXPECT_EQ(EntryText("@MAINMENU:IDM_OPEN"), L"Open");
  EXPECT_EQ(EntryText("@MAINMENU:IDM_KEPT"), L"kept");
  EXPECT_EQ(EntryText("@MAINMENU:IDM_ALSO"), L"also kept");
  EXPECT_EQ(EntryText("s:IDS_BACK"), L"back");
  EXPECT_EQ(languageFile.entries.count, 5u);
}

TEST_F(LanguageFileTest, DirectionIsRightToLeftOnlyForTheExactWord) {
  ParseMessages(OBX_MARKER_LINE L":DIRECTION rtl\r\nA a\r\n");
  EXPECT_FALSE(languageFile.rightToLeft);
  ParseMessages(OBX_MARKER_LINE L":DIRECTION RTL\r\nA a\r\n");
  EXPECT_TRUE(languageFile.rightToLeft);
  // The prefix is left alone.
  EXPECT_EQ(EntryText("s:A"), L"a");
  ParseMessages(OBX_MARKER_LINE L":DIRECTION RTLX\r\n");
  EXPECT_FALSE(languageFile.rightToLeft);
}

TEST_F(LanguageFileTest, AWordWithoutSeparatorTakesTheNextLineIntoItsKey) {
  ParseMessages(OBX_MARKER_LINE L"lonely\r\nIDS_NEXT \"value\"\r\nIDS_AFTER after\r\n");
  ASSERT_EQ(languageFile.entries.count, 2u);
  EXPECT_STREQ(languageFile.entries[0].key, "s:lonely\r\nIDS_NEXT");
  EXPECT_EQ(EntryText("s:lonely\r\nIDS_NEXT"), L"value");
  EXPECT_EQ(EntryText("s:IDS_NEXT"), L"<missing>");
  EXPECT_EQ(EntryText("s:IDS_AFTER"), L"after");
}

TEST_F(LanguageFileTest, CrLfEndsTheLineAndAZeroEndsTheText) {
  std::wstring text = OBX_MARKER_LINE L"A first\r\rB second\n\nC third";
  text += L'\0';
  text += L"\nD never\n";
  ParseMessages(text);
  EXPECT_EQ(EntryText("s:A"), L"first");
  EXPECT_EQ(EntryText("s:B"), L"second");
  EXPECT_EQ(EntryText("s:C"), L"third");
  EXPECT_EQ(EntryText("s:D"), L"<missing>");
}

TEST_F(LanguageFileTest, EntriesKeepFileOrderAndTheIndexIsSortedByBytes) {
  ParseMessages(OBX_MARKER_LINE L"b 1\nB 2\na 3\n:DIALOG Z\nx 4\n");
  const char* fileOrder[] = {"s:b", "s:B", "s:a", "$Z:x"};
  const char* keyOrder[] = {"$Z:x", "s:B", "s:a", "s:b"};
  ASSERT_EQ(languageFile.entries.count, 4u);
  ASSERT_EQ(languageFile.byKey.count, 4u);
  for (unsigned i = 0; i < 4; i++) {
    EXPECT_STREQ(languageFile.entries[i].key, fileOrder[i]);
    EXPECT_STREQ(languageFile.entries[languageFile.byKey[i]].key, keyOrder[i]);
  }
}

TEST_F(LanguageFileTest, DuplicateKeysKeepBothAndALookupFindsOne) {
  ParseMessages(OBX_MARKER_LINE L"A one\nA two\n");
  EXPECT_EQ(languageFile.entries.count, 2u);
  std::wstring found = EntryText("s:A");
  EXPECT_TRUE(found == L"one" || found == L"two") << found;
}

TEST_F(LanguageFileTest, OverlongPartsAreCut) {
  std::wstring longName(120, L'N');
  std::wstring longKey(60, L'K');
  std::wstring longValue(70000, L'v');
  ParseMessages(OBX_MARKER_LINE L":DIALOG " + longName + L"\n" + L"IDOK ok\n:STRINGS\n" + longKey +
                L" key\nV " + longValue + L"\n");
  // The section name stops at 99 characters; "$", name and ":" then fill 100 bytes, so the
  // key name no longer fits and the 49-byte key is all prefix.
  std::string cutKey = "$" + std::string(48, 'N');
  EXPECT_EQ(EntryText(cutKey.c_str()), L"ok");
  std::string cutMessageKey = "s:" + std::string(47, 'K');
  EXPECT_EQ(EntryText(cutMessageKey.c_str()), L"key");
  EXPECT_EQ(EntryText("s:V"), std::wstring(65536, L'v'));
  for (unsigned i = 0; i < languageFile.entries.count; i++)
    EXPECT_LE(std::strlen(languageFile.entries[i].key), 49u);
}

TEST_F(LanguageFileTest, OnlyTheFirstMebiunitOfTheMessagePartIsParsed) {
  std::wstring text = OBX_MARKER_LINE;
  std::wstring filler = L"; " + std::wstring(1000, L'-') + L"\n";
  while (text.size() < kMessagePartUnits - 100) text += filler;
  text.resize(kMessagePartUnits - 12, L' ');
  text += L"\nIN inside\nOUT outside\n";  // IN's line ends at the last unit parsed
  ParseMessages(text);
  EXPECT_EQ(EntryText("s:IN"), L"inside");
  EXPECT_EQ(EntryText("s:OUT"), L"<missing>");
}

class LanguageFileOnDisk : public LanguageFileTest {
 protected:
  std::wstring Write(const std::string& bytes) {
    std::wstring path = temp_ / L"uninstall.lng";
    WriteFileBytes(path, bytes);
    return path;
  }
  TempFolder temp_;
};

TEST_F(LanguageFileOnDisk, Utf16WithByteOrderMarkAndPreambleLoads) {
  std::wstring text = L"Preamble \x05D0\x05D1\r\n" OBX_MARKER_LINE L"A \"\x05E9\x05DC\x05D5\x05DD\"\r\n";
  ParseLanguageFile(Write(Utf16Bytes(text, true)).c_str());
  EXPECT_EQ(EntryText("s:A"), L"\x05E9\x05DC\x05D5\x05DD");
}

TEST_F(LanguageFileOnDisk, AnsiTextLoadsAndUtf8IsReadAsAnsi) {
  ParseLanguageFile(Write(AnsiBytes(L"junk\n" OBX_MARKER_LINE L"A \"caf\x00E9\"\n")).c_str());
  EXPECT_EQ(EntryText("s:A"), L"caf\x00E9");
  languageFile.Clear();
  // The two UTF-8 bytes of e acute come out as two ANSI characters.
  ParseLanguageFile(Write(std::string("***messages***\nA \"caf\xC3\xA9\"\n")).c_str());
  wchar_t expected[8] = L"caf";
  int n = MultiByteToWideChar(CP_ACP, 0, "\xC3\xA9", 2, expected + 3, 2);
  EXPECT_EQ(EntryText("s:A"), std::wstring(expected, 3 + n));
}

TEST_F(LanguageFileOnDisk, MarkerIsFoundAcrossBlockBoundariesInBothForms) {
  // Blocks are 8192 bytes apart by 8176; these starts put the marker across the first
  // boundary, including where a UTF-16 marker does not fit in the first block's overlap.
  for (size_t at : {8176 - 5, 8192 - 5, 8192 - 20, 8192 - 25, 8192 - 26, 8177, 3 * 8176 + 8180}) {
    for (bool wide : {false, true}) {
      SCOPED_TRACE(testing::Message() << "offset " << at << (wide ? " UTF-16" : " ANSI"));
      languageFile.Clear();
      std::string body = wide ? Utf16Bytes(OBX_MARKER_LINE L"A found\r\n")
                              : AnsiBytes(OBX_MARKER_LINE L"A found\r\n");
      ParseLanguageFile(Write(std::string(at, '.') + body).c_str());
      EXPECT_EQ(EntryText("s:A"), L"found");
    }
  }
}

TEST_F(LanguageFileOnDisk, MarkerOnlyCountsWithinTheScanLimitAndTheFile) {
  std::string body = AnsiBytes(OBX_MARKER_LINE L"A found\r\n");
  ParseLanguageFile(Write(std::string(kMarkerScanLimit, ' ') + body).c_str());
  EXPECT_EQ(EntryText("s:A"), L"found");
  languageFile.Clear();
  ParseLanguageFile(Write(std::string(kMarkerScanLimit + 1, ' ') + body).c_str());
  EXPECT_EQ(languageFile.entries.count, 0u);
  // A marker cut by the end of the file.
  ParseLanguageFile(Write(std::string(100, ' ') + "***messages*").c_str());
  ParseLanguageFile(Write(Utf16Bytes(L"***messages**").substr(0, 25)).c_str());
  EXPECT_EQ(languageFile.entries.count, 0u);
}

TEST_F(LanguageFileOnDisk, OddUtf16LengthDropsTheLastByte) {
  ParseLanguageFile(Write(Utf16Bytes(OBX_MARKER_LINE L"A ab") + "\x63").c_str());
  EXPECT_EQ(EntryText("s:A"), L"ab");
}

TEST_F(LanguageFileOnDisk, MissingFileLoadsNothing) {
  ParseLanguageFile((temp_ / L"absent.lng").c_str());
  EXPECT_EQ(languageFile.entries.count, 0u);
  EXPECT_FALSE(languageFile.rightToLeft);
}

TEST_F(LanguageFileOnDisk, ANameWithoutFolderIsTakenFromTheProgramFolder) {
  std::wstring name = UniqueName(L"obxlang") + L".lng";
  std::wstring path = TestProgramFolder() + name;
  WriteFileBytes(path, AnsiBytes(OBX_MARKER_LINE L"A beside the program\r\n"));
  ParseLanguageFile(name.c_str());
  DeleteFileW(path.c_str());
  EXPECT_EQ(EntryText("s:A"), L"beside the program");
}

TEST_F(LanguageFileOnDisk, InMemoryParseMatchesTheFileParse) {
  std::string bytes = std::string(9000, 'x') + Utf16Bytes(OBX_MARKER_LINE L"A one\r\n:DIALOG D\r\nB two");
  ParseLanguageData(bytes.data(), bytes.size());
  EXPECT_EQ(EntryText("s:A"), L"one");
  EXPECT_EQ(EntryText("$D:B"), L"two");
}

// LoadLanguageFile with the sample material built beside the tests.
TEST_F(LanguageFileTest, RightToLeftResourceInTheLanguageDllWinsOverTheFile) {
  TempFolder temp;
  ASSERT_TRUE(CopyFileW(SampleLanguagePath(L"hebrew\\obxlng.dll").c_str(),
                        (temp / L"obxlng.dll").c_str(), FALSE));
  WriteFileBytes(temp / L"uninstall.lng", AnsiBytes(OBX_MARKER_LINE L":DIRECTION LTR\r\n"));
  languageModule.Load(GetModuleHandleW(nullptr), (temp / L"uninstall.exe").c_str());
  ASSERT_TRUE(languageModule.loaded);
  LoadLanguageFile((temp / L"uninstall.lng").c_str());
  EXPECT_TRUE(languageFile.rightToLeft);
  DWORD layout = 0;
  ASSERT_TRUE(GetProcessDefaultLayout(&layout));
  EXPECT_EQ(layout, static_cast<DWORD>(LAYOUT_RTL));
  languageModule.Free();
}

TEST_F(LanguageFileTest, SampleLanguageFilesSetTheirDirection) {
  LoadLanguageFile(SampleLanguagePath(L"uninstall.lng").c_str());
  EXPECT_GT(languageFile.entries.count, 100u);
  EXPECT_FALSE(languageFile.rightToLeft);
  DWORD layout = 1;
  ASSERT_TRUE(GetProcessDefaultLayout(&layout));
  EXPECT_EQ(layout, 0u);

  languageFile.Clear();
  LoadLanguageFile(SampleLanguagePath(L"hebrew\\uninstall.lng").c_str());
  EXPECT_TRUE(languageFile.rightToLeft);
  EXPECT_EQ(EntryText("s:IDS_UNINSTALLOBX"), L"\x05D4\x05E1\x05E8\x05EA Ombrix");
  EXPECT_EQ(EntryText("$SETUPDLG:IDCANCEL"), L"\x05D1\x05D9\x05D8\x05D5\x05DC");
  ASSERT_TRUE(GetProcessDefaultLayout(&layout));
  EXPECT_EQ(layout, static_cast<DWORD>(LAYOUT_RTL));
}

// Thousands of damaged language files, each ending right before a no-access page, so that any
// read past the end faults; afterwards the table must be consistent.
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
