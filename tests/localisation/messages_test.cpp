// Message lookup: the key table, the fall-through from language file to language DLL to the
// program's own strings, the rotating buffers, and the shipped English texts.
#include "localisation/messages.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>

#include "base/text.h"
#include "langtest.h"
#include "localisation/langfile.h"
#include "localisation/langmodule.h"
#include "testenv.h"

namespace {

using MessagesTest = ::testing::Test;

std::wstring OwnString(unsigned id) {
  wchar_t text[kMessageSize] = {};
  LoadStringW(GetModuleHandleW(nullptr), id, text, kMessageSize);
  return text;
}

bool IsMessageRow(const KeyTableRow& row) { return std::strncmp(row.key, "s:", 2) == 0; }

TEST_F(MessagesTest, KeyTableRowsAreWellFormedAndUniquePerSection) {
  std::set<std::string> keys;
  std::set<std::pair<std::string, unsigned>> controls;
  unsigned messages = 0;
  for (unsigned i = 0; i < KeyTableCount; i++) {
    const KeyTableRow& row = KeyTable[i];
    SCOPED_TRACE(row.key);
    EXPECT_LT(std::strlen(row.key), 50u);  // a language file key holds at most 49 bytes
    EXPECT_TRUE(keys.insert(row.key).second);
    const char* colon = std::strchr(row.key, ':');
    ASSERT_NE(colon, nullptr);
    if (IsMessageRow(row)) {
      messages++;
      EXPECT_GE(row.id, 5101u);
    } else {
      ASSERT_EQ(row.key[0], '$');
      std::string section(row.key, colon);
      bool sizeOrCaption = std::strcmp(colon, ":SIZE") == 0 || std::strcmp(colon, ":CAPTION") == 0;
      EXPECT_EQ(row.id == 0, sizeOrCaption);
      if (row.id != 0) {
        EXPECT_TRUE(controls.insert({section, row.id}).second);
      }
    }
  }
  EXPECT_EQ(messages, 33u);
  EXPECT_EQ(KeyTableCount, 33u + 35u + 10u + 35u);
}

TEST_F(MessagesTest, NoKeyNameWithoutLanguageFileEntries) {
  char key[kKeyNameSize] = "unchanged";
  EXPECT_FALSE(FindKeyName(IDS_UNINSTTITLE, key, kKeyNameSize));
  EXPECT_STREQ(key, "unchanged");
  EXPECT_EQ(std::wstring(GetMsg(IDS_UNINSTALLOBX)), OwnString(IDS_UNINSTALLOBX));
}

TEST_F(MessagesTest, EveryMessageIdFindsItsKeyAndOnlyMessagesDo) {
  ParseMessages(OBX_MARKER_LINE L"ANY entry\n");
  for (unsigned i = 0; i < KeyTableCount; i++) {
    if (!IsMessageRow(KeyTable[i])) continue;
    char key[kKeyNameSize] = {};
    EXPECT_TRUE(FindKeyName(KeyTable[i].id, key, kKeyNameSize)) << KeyTable[i].id;
    EXPECT_STREQ(key, KeyTable[i].key);
  }
  char key[kKeyNameSize];
  for (unsigned id : {0u, 1u, 9u, 128u, 5100u, 5117u, 5126u, 5154u, 0xFFFFFFFFu})
    EXPECT_FALSE(FindKeyName(id, key, kKeyNameSize)) << id;
  // The key is cut to the caller's buffer.
  char small[6];
  ASSERT_TRUE(FindKeyName(IDS_HOMEURL, small, sizeof small));
  EXPECT_STREQ(small, "s:IDS");
}

TEST_F(MessagesTest, LookupFallsThroughFileThenDllThenProgram) {
  TempFolder temp;
  ASSERT_TRUE(CopyFileW(SampleLanguagePath(L"obxlng.dll").c_str(), (temp / L"obxlng.dll").c_str(),
                        FALSE));
  languageModule.Load(GetModuleHandleW(nullptr), (temp / L"uninstall.exe").c_str());
  ASSERT_TRUE(languageModule.loaded);
  ParseMessages(OBX_MARKER_LINE
                L"IDS_UNINSTALLOBX \"From the file\"\r\n"
                L"IDS_OMBRIXHELP \"\"\r\n"
                L"IDS_NOT_IN_TABLE \"never reached\"\r\n");

  EXPECT_STREQ(GetMsg(IDS_UNINSTALLOBX), L"From the file");
  // An empty file entry is an empty message, not a fall-through.
  EXPECT_STREQ(GetMsg(IDS_OMBRIXHELP), L"");
  // Not in the file: the DLL's string, which differs from the program's.
  std::wstring fromDll = GetMsg(IDS_UNINSTALLCOMPLETED);
  EXPECT_EQ(fromDll, L"Ombrix wurde deinstalliert.");
  EXPECT_NE(fromDll, OwnString(IDS_UNINSTALLCOMPLETED));
  // Empty in the DLL, and missing from it: the program's own.
  EXPECT_EQ(std::wstring(GetMsg(IDS_OBXHELP)), OwnString(IDS_OBXHELP));
  EXPECT_EQ(std::wstring(GetMsg(IDS_HOMEURL)), OwnString(IDS_HOMEURL));
  EXPECT_FALSE(OwnString(IDS_HOMEURL).empty());
  // Nowhere at all.
  EXPECT_STREQ(GetMsg(4999), L"");

  languageModule.Free();
  EXPECT_EQ(std::wstring(GetMsg(IDS_UNINSTALLCOMPLETED)), OwnString(IDS_UNINSTALLCOMPLETED));
}

TEST_F(MessagesTest, NinthCallReusesTheFirstBuffer) {
  ParseMessages(OBX_MARKER_LINE
                L"IDS_BETA one\nIDS_32BIT two\nIDS_64BIT three\nIDS_OMBRIXARC four\n"
                L"IDS_OMBRIXZIPARC five\nIDS_OBXRECVOL six\nIDS_OMBRIXDESC seven\n"
                L"IDS_WHATSNEW eight\nIDS_WHATSNEWNAME nine\n");
  const unsigned ids[] = {IDS_BETA,      IDS_32BIT,      IDS_64BIT,    IDS_OMBRIXARC,
                          IDS_OMBRIXZIPARC, IDS_OBXRECVOL, IDS_OMBRIXDESC, IDS_WHATSNEW};
  const wchar_t* words[] = {L"one", L"two", L"three", L"four", L"five", L"six", L"seven", L"eight"};
  const wchar_t* results[8];
  for (unsigned i = 0; i < 8; i++) results[i] = GetMsg(ids[i]);
  const wchar_t* ninth = GetMsg(IDS_WHATSNEWNAME);
  EXPECT_EQ(ninth, results[0]);
  EXPECT_STREQ(results[0], L"nine");
  for (unsigned i = 1; i < 8; i++) {
    EXPECT_NE(results[i], results[0]);
    EXPECT_STREQ(results[i], words[i]);
  }
}

TEST_F(MessagesTest, LoadMsgCutsToTheCallersBuffer) {
  ParseMessages(OBX_MARKER_LINE L"IDS_BETA \"abcdef\"\n");
  wchar_t out[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_EQ(LoadMsg(IDS_BETA, out, 4), out);
  EXPECT_STREQ(out, L"abc");
  // The string resource path cuts too.
  std::wstring own = OwnString(IDS_UNINSTALLOBX);
  ASSERT_GT(own.size(), 3u);
  EXPECT_STREQ(LoadMsg(IDS_UNINSTALLOBX, out, 4), own.substr(0, 3).c_str());
  wchar_t one[1] = {L'x'};
  EXPECT_STREQ(LoadMsg(IDS_BETA, one, 1), L"");
}

TEST_F(MessagesTest, LookupTextFindsEveryKeyAmongMany) {
  std::wstring text = OBX_MARKER_LINE;
  for (unsigned i = 0; i < 3000; i++) text += L"K" + std::to_wstring(i * 7919 % 3000) + L" v\n";
  ParseMessages(text);
  wchar_t out[8];
  for (unsigned i = 0; i < 3000; i++) {
    std::string key = "s:K" + std::to_string(i);
    ASSERT_TRUE(LookupText(key.c_str(), out, 8)) << key;
  }
  EXPECT_FALSE(LookupText("s:K3000", out, 8));
  EXPECT_FALSE(LookupText("s:", out, 8));
  EXPECT_FALSE(LookupText("", out, 8));
}

// Formats come from files anyone may edit: stray conversions stay as they are.
TEST_F(MessagesTest, HostileTranslationsOfFormatMessagesAreHarmless) {
  ParseMessages(OBX_MARKER_LINE
                L"IDS_UNINSTALLSHOULDDELETE \"%n%n%d %x %p %S %ls %s twice %s 100%% %\"\r\n"
                L"IDS_CANNOTOPENLIST \"%s%s%s%s%s%s%s%s%s%s\"\r\n");
  wchar_t out[512];
  SubstituteText(out, 512, GetMsg(IDS_UNINSTALLSHOULDDELETE), L"C:\\Ombrix\\uninstall.exe");
  EXPECT_STREQ(out, L"%n%n%d %x %p %S %ls C:\\Ombrix\\uninstall.exe twice  100% %");
  SubstituteText(out, 200, GetMsg(IDS_CANNOTOPENLIST), L"Uninstall.lst");
  EXPECT_STREQ(out, L"Uninstall.lst");
}

// The shipped texts: the program's string table and the English language file template.
TEST_F(MessagesTest, ProgramHasAnEnglishTextForEveryMessage) {
  for (unsigned i = 0; i < KeyTableCount; i++) {
    if (!IsMessageRow(KeyTable[i])) continue;
    std::wstring text = OwnString(KeyTable[i].id);
    SCOPED_TRACE(KeyTable[i].key);
    EXPECT_FALSE(text.empty());
    size_t percents = 0;
    for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 1))
      percents++;
    bool isFormat = KeyTable[i].id == IDS_UNINSTALLSHOULDDELETE ||
                    KeyTable[i].id == IDS_CANNOTOPENLIST;
    EXPECT_EQ(percents, isFormat ? 1u : 0u);
    if (isFormat) {
      EXPECT_NE(text.find(L"%s"), std::wstring::npos);
    }
  }
}

TEST_F(MessagesTest, EnglishTemplateCoversEveryKeyAndMatchesTheProgram) {
  ParseLanguageFile(SampleLanguagePath(L"uninstall.lng").c_str());
  ASSERT_GT(languageFile.entries.count, 0u);
  EXPECT_EQ(languageFile.entries.count, KeyTableCount);
  for (unsigned i = 0; i < KeyTableCount; i++) {
    SCOPED_TRACE(KeyTable[i].key);
    std::wstring text = EntryText(KeyTable[i].key);
    ASSERT_NE(text, L"<missing>");
    if (IsMessageRow(KeyTable[i])) {
      EXPECT_EQ(text, OwnString(KeyTable[i].id));
    } else {
      EXPECT_FALSE(text.empty());
    }
  }
  EXPECT_EQ(EntryText("$SETUPDLG:SIZE"), L"100*100");
}

}  // namespace
