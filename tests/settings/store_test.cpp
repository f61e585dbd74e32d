// The settings store: where the ini file is found, its format, the answers it gives the registry
// layer, and how it is written back, also after loading a damaged file.
#include "settings/store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/owners.h"
#include "filesystem/fileops.h"
#include "filesystem/secure.h"
#include "importpatch.h"
#include "settings/registry.h"
#include "settings_fixture.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

using StoreTest = IniSearchTest;

constexpr char kThreeGlobals[] = "Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n";

std::wstring Read(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  wchar_t buffer[256];
  EXPECT_TRUE(GetRegString(root, subkey, name, buffer, L"<default>", 256));
  return buffer;
}

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }

std::vector<IniLine> SortedEntries() {
  std::vector<IniLine> entries = StoreEntries();
  std::sort(entries.begin(), entries.end(),
            [](const IniLine& a, const IniLine& b) { return a.key < b.key; });
  return entries;
}

// What CreateFileW does with a request for a new file in the watched folder (other than the ini
// itself) while a NewFileHook is alive: a folder where the user may change the file but not
// create files, or an attacker's link that appears at the very name being created.
enum class NewFileFate { kFolderRefuses, kLinkAppears };
struct NewFileHook {
  NewFileHook(NewFileFate fate, std::wstring folder, std::wstring ini, std::wstring victim);
  ~NewFileHook();
  NewFileFate fate;
  std::wstring folder, ini, victim;
  int links = 0;
  int hits = 0;  // new files asked for
  ImportPatch patch;
};
NewFileHook* newFileHook = nullptr;

HANDLE WINAPI HookedCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                HANDLE templateFile) {
  NewFileHook& hook = *newFileHook;
  std::wstring path = name;
  if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);  // the long form names the same file
  bool creates =
      disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  if (creates && path.rfind(hook.folder + L"\\", 0) == 0 && path != hook.ini) {
    hook.hits++;
    if (hook.fate == NewFileFate::kFolderRefuses) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (hook.links++ == 0 && !MakeFileLink(path, hook.victim)) ADD_FAILURE() << "no file link";
  }
  return hook.patch.Original<decltype(&CreateFileW)>()(name, access, share, security, disposition,
                                                       flags, templateFile);
}

NewFileHook::NewFileHook(NewFileFate f, std::wstring watched, std::wstring iniFile,
                         std::wstring target)
    : fate(f),
      folder(std::move(watched)),
      ini(std::move(iniFile)),
      victim(std::move(target)),
      patch("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&HookedCreateFileW)) {
  newFileHook = this;
}
NewFileHook::~NewFileHook() { newFileHook = nullptr; }

}  // namespace

TEST_F(StoreTest, IniNextToProgramWinsOverPerUserOne) {
  WriteFileBytes(userIni(), "HKCU\\Setup\\Where=user\r\n");
  LoadIni();
  EXPECT_TRUE(settingsStore.active);
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", L"Where"), L"user");

  LoadFromProgramFolder("HKCU\\Setup\\Where=program\r\n");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", L"Where"), L"program");
  EXPECT_STREQ(settingsStore.iniPath, programIni().c_str());
}

// Setup records the store it used; the uninstallation follows that record, whatever ini file has
// appeared since. Without a record the search decides.
TEST_F(StoreTest, TheRecordedStoreWinsOverAnIniThatAppearedLater) {
  ScratchRegistry scratch;
  const wchar_t kRecord[] = L"\\Software\\Record";
  struct Case {
    const char* what;
    const char* setupIni;  // beside the program at setup; null for none (the registry)
    bool record;
    bool portableAfter;
  } cases[] = {
      {"registry installation", nullptr, true, false},
      {"portable installation", "HKCU\\Setup\\Where=program\r\n", true, true},
      {"no record", nullptr, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(programIni().c_str());
    DeleteFileW(userIni().c_str());
    DeleteRegKey(HKEY_LOCAL_MACHINE, kRecord);
    if (c.setupIni) WriteFileBytes(programIni(), c.setupIni);
    FreeIni();
    if (c.record) RecordSettingsStore(HKEY_LOCAL_MACHINE, kRecord);
    FreeIni();
    // Later: an ini in the per-user folder that would switch everything off.
    WriteFileBytes(userIni(), "Global\\Integration=0\r\nHKCU\\Setup\\Where=user\r\n");
    FollowRecordedSettingsStore(HKEY_LOCAL_MACHINE, kRecord);
    EXPECT_EQ(UsesIni(HKEY_CURRENT_USER, L"Setup"), c.portableAfter);
    EXPECT_EQ(IntegrationAllowed(), c.setupIni != nullptr || c.record);
    if (c.portableAfter) {
      EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", L"Where"), c.setupIni ? L"program" : L"user");
    }
    SetIniSearchPlaces((programFolder() + L"\\uninstall.exe").c_str(), userFolder().c_str());
  }
}

// An ini file that is a link to the user's real file: the link stays and its target gets the
// complete new text; an elevated run refuses, since a standard user may have made the link.
TEST_F(StoreTest, ALinkAtTheIniNameIsWrittenThroughOrRefusedNeverReplaced) {
  const std::string original = "HKCU\\A\\B=1\r\n";
  const std::string expected = Utf16File(Widen(kThreeGlobals) + L"HKCU\\A\\B=2\r\n");
  std::wstring realFolder = temp_ / L"real";
  CreateDirectoryW(realFolder.c_str(), nullptr);
  std::wstring real = realFolder + L"\\Ombrix.ini";
  struct Case {
    const char* what;
    bool besideProgram;
    bool elevated;
  } cases[] = {
      {"beside the program", true, false},
      {"in the per-user folder", false, false},
      {"beside the program, elevated", true, true},
      {"in the per-user folder, elevated", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(real, original);
    // Fresh places for each case: a host link is not removed from here.
    TempFolder places;
    std::wstring program = places / L"program", user = places / L"user";
    CreateDirectoryW(program.c_str(), nullptr);
    CreateDirectoryW(user.c_str(), nullptr);
    SetIniSearchPlaces((program + L"\\uninstall.exe").c_str(), user.c_str());
    std::wstring folder = c.besideProgram ? program : user;
    std::wstring link = folder + L"\\Ombrix.ini";
    ASSERT_TRUE(MakeFileLink(link, real));
    SetElevationOverride(&c.elevated);
    FreeIni();
    LoadIni();
    ASSERT_EQ(SetSettingDword(L"A", L"B", 2), 0u);
    EXPECT_EQ(SaveIni(), !c.elevated);
    SetElevationOverride(nullptr);
    EXPECT_EQ(ReadFileBytes(real), c.elevated ? original : expected);
    // Still the link: what it shows is the target's text.
    EXPECT_EQ(ReadFileBytes(link), ReadFileBytes(real));
    EXPECT_EQ(ListFiles(realFolder).size(), 1u);
    EXPECT_EQ(ListFiles(folder).size(), 1u);
    FreeIni();
  }
}

// A run killed while it writes the new file beside the ini leaves nothing that would keep the
// folder from being removed.
constexpr wchar_t kKilledSaveFolder[] = L"OBX_KILLED_SAVE_FOLDER";

BOOL WINAPI DieAtFlush(HANDLE) {
  TerminateProcess(GetCurrentProcess(), 7);
  return FALSE;
}

TEST(StoreChild, KilledWhileSaving) {
  wchar_t folder[MAX_PATH];
  if (!GetEnvironmentVariableW(kKilledSaveFolder, folder, MAX_PATH)) GTEST_SKIP();
  SetIniSearchPlaces((std::wstring(folder) + L"\\uninstall.exe").c_str(), nullptr);
  LoadIni();
  SetSettingDword(L"A", L"B", 2);
  ImportPatch patch("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&DieAtFlush));
  SaveIni();
}

TEST_F(StoreTest, ARunKilledWhileSavingLeavesNoSaveFile) {
  const std::string original = "HKCU\\A\\B=1\r\n";
  WriteFileBytes(programIni(), original);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  TestProcess child;
  EnvironmentChanges environment;
  environment.set.push_back({kKilledSaveFolder, programFolder()});
  ASSERT_TRUE(child.Start(self, L"--gtest_filter=StoreChild.KilledWhileSaving", environment))
      << child.lastError();
  ASSERT_TRUE(child.WaitForExit(60000));
  EXPECT_EQ(child.exitCode(), 7u);
  EXPECT_EQ(ListFiles(programFolder()), std::vector<std::wstring>{L"Ombrix.ini"});
  EXPECT_EQ(ReadFileBytes(programIni()), original);
}

TEST_F(StoreTest, WithoutIniTheRegistryIsUsedAndIntegrationStaysOn) {
  // A folder of that name is no ini file.
  CreateDirectoryW(programIni().c_str(), nullptr);
  EXPECT_FALSE(UsesIni(HKEY_CURRENT_USER, L"Setup"));
  EXPECT_TRUE(settingsStore.attempted);
  EXPECT_FALSE(settingsStore.active);
  EXPECT_TRUE(IntegrationAllowed());
  DWORD value = 0;
  EXPECT_FALSE(IniGetNumber(HKEY_CLASSES_ROOT, L".zip", L"", 7, value));
  EXPECT_FALSE(SaveIni());

  // No per-user folder at all.
  RemoveTree(userFolder());
  FreeIni();
  EXPECT_FALSE(UsesIni(HKEY_CURRENT_USER, L"Setup"));
}

TEST_F(StoreTest, OnlyEntryLinesAreKeptAndSavedSortedWithTheSwitches) {
  LoadFromProgramFolder("; comment\r\n[Section]\r\n1abc=2\r\nHKCU\\Setup\\Links\\Desktop=1\r\n");
  ASSERT_TRUE(settingsStore.active);
  std::vector<IniLine> expected = {{L"HKCU\\Setup\\Links\\Desktop", L"1", kIniPlain},
                                   {L"Global\\AppData", L"1", kIniPlain},
                                   {L"Global\\Integration", L"1", kIniPlain},
                                   {L"Global\\SaveSettings", L"1", kIniPlain}};
  EXPECT_EQ(StoreEntries(), expected);

  ASSERT_TRUE(SaveIni());
  EXPECT_EQ(ReadFileBytes(programIni()),
            Utf16File(Widen(kThreeGlobals) + L"HKCU\\Setup\\Links\\Desktop=1\r\n"));
  EXPECT_FALSE(FileExist((programIni() + L".new").c_str()));
}

TEST_F(StoreTest, ValueKindsAreReadAndWrittenBack) {
  LoadFromProgramFolder(
      "HKCU\\Setup\\MenuItems\\AlwaysArc=\"*.iso\"\n"
      "Open=\"abc\n"
      "Inner=\"say \"hi\"\"\n"
      "Empty=\"\"\n"
      "Data=bin:0a0b\n"
      "Upper=Bin:x\n"
      "Spaced = v \n"
      "Plain=\n");
  std::vector<IniLine> entries = StoreEntries();
  ASSERT_GE(entries.size(), 8u);
  std::vector<IniLine> expected = {{L"HKCU\\Setup\\MenuItems\\AlwaysArc", L"*.iso", kIniQuoted},
                                   {L"Open", L"abc", kIniQuoted},
                                   {L"Inner", L"say \"hi\"", kIniQuoted},
                                   {L"Empty", L"", kIniQuoted},
                                   {L"Data", L"0a0b", kIniBinary},
                                   {L"Upper", L"Bin:x", kIniPlain},
                                   {L"Spaced ", L" v", kIniPlain},
                                   {L"Plain", L"", kIniPlain}};
  EXPECT_EQ(std::vector<IniLine>(entries.begin(), entries.begin() + 8), expected);

  ASSERT_TRUE(SaveIni());
  EXPECT_EQ(ReadFileBytes(programIni()),
            Utf16File(L"Data=bin:0a0b\r\nEmpty=\"\"\r\n" + Widen(kThreeGlobals) +
                      L"HKCU\\Setup\\MenuItems\\AlwaysArc=\"*.iso\"\r\nInner=\"say \"hi\"\"\r\n"
                      L"Open=\"abc\"\r\nPlain=\r\nSpaced = v\r\nUpper=Bin:x\r\n"));
}

TEST_F(StoreTest, FirstOfDuplicateKeysAnswersAndTakesWritesWithTheNewKind) {
  LoadFromProgramFolder(
      "HKCU\\A\\V=\"first\"\r\nHKCU\\A\\V=second\r\nhkcu\\A\\V=case\r\nHKCU\\A\\W=bin:00\r\n"
      "HKCU\\A\\Q=\"7\"\r\nHKCU\\A\\P=7\r\n");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"A", L"V"), L"first");
  EXPECT_EQ(SetRegDword(HKEY_CURRENT_USER, L"A", L"V", 4294967295u), 0u);
  EXPECT_EQ(SetRegString(HKEY_CURRENT_USER, L"A", L"W", L"text"), 0u);
  // The same text in the other kind is a change as well.
  EXPECT_EQ(SetRegDword(HKEY_CURRENT_USER, L"A", L"Q", 7), 0u);
  EXPECT_EQ(SetRegString(HKEY_CURRENT_USER, L"A", L"P", L"7"), 0u);
  std::vector<IniLine> entries = StoreEntries();
  ASSERT_GE(entries.size(), 6u);
  EXPECT_EQ(entries[0], (IniLine{L"HKCU\\A\\V", L"4294967295", kIniPlain}));
  EXPECT_EQ(entries[1], (IniLine{L"HKCU\\A\\V", L"second", kIniPlain}));
  EXPECT_EQ(entries[2], (IniLine{L"hkcu\\A\\V", L"case", kIniPlain}));
  EXPECT_EQ(entries[3], (IniLine{L"HKCU\\A\\W", L"text", kIniQuoted}));
  EXPECT_EQ(entries[4], (IniLine{L"HKCU\\A\\Q", L"7", kIniPlain}));
  EXPECT_EQ(entries[5], (IniLine{L"HKCU\\A\\P", L"7", kIniQuoted}));
  // New keys go to the end.
  EXPECT_EQ(SetRegString(HKEY_LOCAL_MACHINE, L"B", L"", L"x"), 0u);
  EXPECT_EQ(StoreEntries().back(), (IniLine{L"HKLM\\B\\", L"x", kIniQuoted}));
  // Saved in key order (ordinal), the duplicates in theirs.
  ASSERT_TRUE(SaveIni());
  EXPECT_EQ(ReadFileBytes(programIni()),
            Utf16File(Widen(kThreeGlobals) + L"HKCU\\A\\P=\"7\"\r\nHKCU\\A\\Q=7\r\n"
                      L"HKCU\\A\\V=4294967295\r\nHKCU\\A\\V=second\r\n"
                      L"HKCU\\A\\W=\"text\"\r\nHKLM\\B\\=\"x\"\r\nhkcu\\A\\V=case\r\n"));
}

TEST_F(StoreTest, NumbersAreParsedAsSignedDecimalAndWrittenUnsigned) {
  LoadFromProgramFolder(
      "HKCU\\N\\Neg=-12x\nHKCU\\N\\Blank= 5\nHKCU\\N\\Plus=+5\nHKCU\\N\\Big=4294967297\n"
      "HKCU\\N\\Text=abc\n");
  EXPECT_EQ(GetSettingDword(L"N", L"Neg", 9), static_cast<DWORD>(-12));
  EXPECT_EQ(GetSettingDword(L"N", L"Blank", 9), 0u);
  EXPECT_EQ(GetSettingDword(L"N", L"Plus", 9), 0u);
  EXPECT_EQ(GetSettingDword(L"N", L"Big", 9), 1u);
  EXPECT_EQ(GetSettingDword(L"N", L"Text", 9), 0u);
  EXPECT_EQ(GetSettingDword(L"N", L"Missing", 9), 9u);
  EXPECT_EQ(SetSettingDword(L"N", L"Neg", static_cast<DWORD>(-1)), 0u);
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"N", L"Neg"), L"4294967295");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"N", L"Missing"), L"<default>");
}

TEST_F(StoreTest, DeletingAKeyRemovesItsEntriesButNotSimilarNames) {
  LoadFromProgramFolder(
      "HKCU\\Setup\\Links\\Desktop=1\nHKCU\\Setup\\=default\nHKCU\\Setup\\Name=n\n"
      "HKCU\\SetupX\\Y=2\nHKLM\\Setup\\Z=3\n");
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, L"Setup\\Links"));
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, L"Setup\\Link"));

  // An empty value name is the key's default value, not the whole key.
  DeleteSettingValue(L"Setup", L"");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", L""), L"<default>");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", L"Name"), L"n");

  DeleteRegTree(HKEY_CURRENT_USER, L"Setup");
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, L"Setup"));
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup\\Links", L"Desktop"), L"<default>");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"SetupX", L"Y"), L"2");
  EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, L"Setup", L"Z"), L"3");

  // The whole user part, and appending after deletions still works.
  DeleteRegKey(HKEY_CURRENT_USER, L"");
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, L""));
  EXPECT_EQ(SetSettingString(L"New", L"V", L"v"), 0u);
  EXPECT_EQ(StoreEntries().back().key, L"HKCU\\New\\V");
}

TEST_F(StoreTest, IntegrationOffVetoesEveryOtherRegistryChange) {
  ScratchRegistry scratch;
  LoadFromProgramFolder("Global\\Integration=0\r\n");
  EXPECT_FALSE(IntegrationAllowed());

  EXPECT_EQ(SetRegString(HKEY_CLASSES_ROOT, L".zip", L"", L"Ombrix.zip"), 0u);
  EXPECT_EQ(SetRegDword(HKEY_LOCAL_MACHINE, L"\\Software\\Other", L"V", 1), 0u);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(scratch.Real(HKEY_CLASSES_ROOT), L".zip", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_NE(RegOpenKeyExW(scratch.Real(HKEY_LOCAL_MACHINE), L"Software\\Other", 0, KEY_READ, &key),
            ERROR_SUCCESS);

  // Reads of existing registry data give the caller's default.
  ASSERT_EQ(RegCreateKeyExW(scratch.Real(HKEY_CLASSES_ROOT), L".rar", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Other"), 12);
  RegCloseKey(key);
  wchar_t buffer[64];
  EXPECT_TRUE(GetRegString(HKEY_CLASSES_ROOT, L".rar", L"", buffer, L"def", 64));
  EXPECT_STREQ(buffer, L"def");
  EXPECT_EQ(GetRegDword(HKEY_CLASSES_ROOT, L".rar", L"", 5), 5u);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".rar"));
  DeleteRegTree(HKEY_CLASSES_ROOT, L".rar");
  DeleteRegValue(HKEY_CLASSES_ROOT, L".rar", L"");
  EXPECT_EQ(RegOpenKeyExW(scratch.Real(HKEY_CLASSES_ROOT), L".rar", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);

  // The program's own keys still live in the ini, and the switch is written back as read.
  EXPECT_EQ(SetSettingDword(L"Setup", L"V", 3), 0u);
  EXPECT_EQ(GetSettingDword(L"Setup", L"V", 0), 3u);
  ASSERT_TRUE(SaveIni());
  EXPECT_EQ(ReadFileBytes(programIni()),
            Utf16File(L"Global\\AppData=1\r\nGlobal\\Integration=0\r\nGlobal\\SaveSettings=1\r\n"
                      L"HKCU\\Setup\\V=3\r\n"));
}

TEST_F(StoreTest, AbsolutePathsAndClassesRootNeverGoToTheIni) {
  ScratchRegistry scratch;
  LoadFromProgramFolder("");
  EXPECT_EQ(SetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Ombrix",
                         L"Software\\Ombrix\\Capabilities"),
            0u);
  EXPECT_EQ(SetRegString(HKEY_CLASSES_ROOT, L".obx", L"", L"Ombrix.obx"), 0u);
  EXPECT_EQ(StoreEntries().size(), 3u);
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications"));
  wchar_t buffer[64];
  EXPECT_TRUE(GetRegString(HKEY_CLASSES_ROOT, L".obx", L"", buffer, L"", 64));
  EXPECT_STREQ(buffer, L"Ombrix.obx");
}

TEST_F(StoreTest, SaveSettingsOffNeverRewritesTheFile) {
  const std::string original = "Global\\SaveSettings=0\r\n; keep me\r\nHKCU\\A\\B=1\r\n";
  LoadFromProgramFolder(original);
  EXPECT_EQ(SetSettingDword(L"A", L"B", 2), 0u);
  EXPECT_EQ(SetSettingString(L"A", L"C", L"new"), 0u);
  EXPECT_FALSE(SaveIni());
  FreeIni();
  EXPECT_EQ(ReadFileBytes(programIni()), original);
}

TEST_F(StoreTest, EmptyIniIsActiveAndSavesTheThreeSwitches) {
  LoadFromProgramFolder("");
  EXPECT_TRUE(settingsStore.active);
  ASSERT_TRUE(SaveIni());
  EXPECT_EQ(ReadFileBytes(programIni()), Utf16File(Widen(kThreeGlobals)));
}

TEST_F(StoreTest, Utf8IniIsRewrittenAsUtf16) {
  LoadFromProgramFolder("\xEF\xBB\xBFHKCU\\Setup\\Name=caf\xC3\xA9\r\n");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", L"Name"), L"caf\u00E9");
  ASSERT_TRUE(SaveIni());
  EXPECT_EQ(ReadFileBytes(programIni()),
            Utf16File(Widen(kThreeGlobals) + L"HKCU\\Setup\\Name=caf\u00E9\r\n"));
  // And it reads back the same.
  FreeIni();
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", L"Name"), L"caf\u00E9");
}

TEST_F(StoreTest, FailedSaveLeavesTheOldFileAsItWas) {
  const std::string original = "; my comment\r\nHKCU\\A\\B=1\r\n";
  LoadFromProgramFolder(original);
  EXPECT_EQ(SetSettingDword(L"A", L"B", 2), 0u);

  // Another program has the file open and lets others only read it: it can be neither replaced
  // nor rewritten, and the new content written beside it goes again.
  HANDLE open = CreateFileW(programIni().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(SaveIni());
  CloseHandle(open);
  EXPECT_EQ(ReadFileBytes(programIni()), original);
  EXPECT_EQ(ListFiles(programFolder()), std::vector<std::wstring>{L"Ombrix.ini"});

  // Once possible, the save goes through.
  EXPECT_TRUE(SaveIni());
  EXPECT_EQ(ReadFileBytes(programIni()), Utf16File(Widen(kThreeGlobals) + L"HKCU\\A\\B=2\r\n"));
}

// A file that was not read completely is never saved over, also when it already holds the
// switches (so that the saved form would look complete). Bytes that cannot be decoded do not end
// the reading: the settings after them still count.
TEST_F(StoreTest, IncompleteReadIsNeverSavedOver) {
  const std::string head =
      "Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n";
  std::string padding;
  for (int i = 0; padding.size() < 5000; i++)
    padding += "HKCU\\Pad\\V" + std::to_string(i) + "=1\r\n";
  const std::string tail = "HKCU\\Setup\\Links\\Desktop=0\r\n";
  struct Case {
    const char* what;
    std::string bytes;
    bool readRefused;  // the second 4 KiB piece is refused, as under another program's lock
  } cases[] = {
      {"read error part-way", head + padding + tail, true},
      {"UTF-8 5-byte form", "\xEF\xBB\xBF" + head + "X=\xF8\x88\x80\x80\x80\r\n" + tail, false},
      {"UTF-8 overlong C0 80", "\xEF\xBB\xBF" + head + "X=a\xC0\x80\r\n" + tail, false},
      {"zero byte", head + std::string("X=a\0b\r\n", 7) + tail, false},
      {"zero unit",
       std::string(Utf16File(Widen(head.c_str()) + L"X=a")) + std::string("\0\0", 2) +
           Utf16File(L"\r\n" + Widen(tail.c_str())).substr(2),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(programIni(), c.bytes);
    FreeIni();
    {
      std::unique_ptr<ReadRefusal> refusal;
      if (c.readRefused) refusal.reset(new ReadRefusal(0, ERROR_LOCK_VIOLATION, 4096));
      LoadIni();
    }
    EXPECT_TRUE(settingsStore.active);
    EXPECT_TRUE(settingsStore.loadIncomplete);
    EXPECT_EQ(GetSettingDword(L"Setup\\Links", L"Desktop", 9), c.readRefused ? 9u : 0u);
    EXPECT_EQ(SetSettingDword(L"Setup", L"New", 1), 0u);
    EXPECT_FALSE(SaveIni());
    EXPECT_EQ(ReadFileBytes(programIni()), c.bytes);
  }
}

// The save must succeed where a rename over the file cannot, keep the file's attributes, leave
// alone a file of the user's named like a save file, and never write through a link standing at
// the name of the file it creates.
TEST_F(StoreTest, SaveSucceedsWhereARenameCannotAndTouchesNothingElse) {
  const std::string original = "HKCU\\A\\B=1\r\n";
  const std::string expected = Utf16File(Widen(kThreeGlobals) + L"HKCU\\A\\B=2\r\n");
  const std::wstring victim = temp_ / L"victim.txt";
  const std::string precious = "another file the program must not touch";
  enum Setup { kOpenWithoutDeleteSharing, kHidden, kUsersNewFile, kFolderRefuses, kLinkAppears };
  struct Case {
    const char* what;
    Setup setup;
  } cases[] = {
      {"open elsewhere, shared for reading and writing only", kOpenWithoutDeleteSharing},
      {"hidden file", kHidden},
      {"the user's Ombrix.ini.new", kUsersNewFile},
      {"folder takes no new files", kFolderRefuses},
      {"link appears at the new file's name", kLinkAppears},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(victim, precious);
    LoadFromProgramFolder(original);
    ASSERT_EQ(SetSettingDword(L"A", L"B", 2), 0u);
    ScopedHandle open;
    std::unique_ptr<NewFileHook> hook;
    switch (c.setup) {
      case kOpenWithoutDeleteSharing:
        open.reset(CreateFileW(programIni().c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr));
        ASSERT_TRUE(open);
        break;
      case kHidden:
        ASSERT_TRUE(SetFileAttributesW(programIni().c_str(), FILE_ATTRIBUTE_HIDDEN));
        break;
      case kUsersNewFile:
        WriteFileBytes(programIni() + L".new", precious);
        break;
      case kFolderRefuses:
      case kLinkAppears:
        hook.reset(new NewFileHook(
            c.setup == kFolderRefuses ? NewFileFate::kFolderRefuses : NewFileFate::kLinkAppears,
            programFolder(), programIni(), victim));
        break;
    }
    EXPECT_TRUE(SaveIni());
    EXPECT_TRUE(!hook || hook->hits > 0);
    hook.reset();
    open.reset();
    EXPECT_EQ(ReadFileBytes(programIni()), expected);
    EXPECT_EQ(ReadFileBytes(victim), precious);
    if (c.setup == kHidden) {
      EXPECT_EQ(GetFileAttributesW(programIni().c_str()) & FILE_ATTRIBUTE_HIDDEN,
                DWORD(FILE_ATTRIBUTE_HIDDEN));
      SetFileAttributesW(programIni().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    if (c.setup == kUsersNewFile) {
      EXPECT_EQ(ReadFileBytes(programIni() + L".new"), precious);
      DeleteFileW((programIni() + L".new").c_str());
    }
    // No save file is left behind; a link that appeared stays, with its target as it was.
    std::vector<std::wstring> files = ListFiles(programFolder());
    EXPECT_EQ(files.size(), c.setup == kLinkAppears ? 2u : 1u) << testing::PrintToString(files);
    for (const std::wstring& file : files)
      if (file != L"Ombrix.ini") DeleteFileW((programFolder() + L"\\" + file).c_str());
  }
}

// With the switches already in the file, setting them after the parse needs no memory and does
// not run out a second time: the parse itself must mark the load as partial.
TEST_F(StoreTest, ExhaustedMemoryWhileLoadingKeepsWhatWasParsedAndNeverSaves) {
  for (const char* switches : {"", kThreeGlobals}) {
    SCOPED_TRACE(switches[0] ? "switches in the file" : "no switches in the file");
    FreeIni();
    const std::string original =
        std::string(switches) + "HKCU\\A=1\r\nHKCU\\B=2\r\nHKCU\\C=3\r\nHKCU\\D=4\r\n";
    WriteFileBytes(programIni(), original);
    settingsStore.entryLimit = switches[0] ? 5 : 2;
    LoadIni();
    EXPECT_TRUE(settingsStore.active);
    EXPECT_TRUE(settingsStore.loadIncomplete);
    EXPECT_EQ(GetSettingDword(L"", L"B", 0), 2u);
    EXPECT_EQ(GetSettingDword(L"", L"C", 0), 0u);
    // Writes after loading are not limited; the switches keep their initial values.
    EXPECT_EQ(SetSettingDword(L"", L"E", 5), 0u);
    EXPECT_TRUE(IntegrationAllowed());
    // Writing back the partial content would lose the rest of the user's settings.
    EXPECT_FALSE(SaveIni());
    EXPECT_EQ(ReadFileBytes(programIni()), original);
  }
}

// A line break in a value would start a new entry in the saved file, and one in a key (or an "=",
// which moves the split) would write another key than the one meant.
TEST_F(StoreTest, WrittenTextNeverCreatesEntries) {
  LoadFromProgramFolder("");
  struct Case {
    const wchar_t* name;
    const wchar_t* value;
    const wchar_t* stored;  // null: nothing stored
  } cases[] = {
      {L"Type", L"Other.Type\r\nHKCU\\Setup\\Links\\Desktop=0", L"Other.Type"},
      {L"Lf", L"a\nb", L"a"},
      {L"Cr", L"\rGlobal\\Integration=0", L""},
      {L"Name\nGlobal\\SaveSettings", L"0", nullptr},
      {L"Links\\Desktop=x", L"0", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_EQ(SetSettingString(L"Setup", c.name, c.value), 0u);
    EXPECT_EQ(Read(HKEY_CURRENT_USER, L"Setup", c.name), c.stored ? c.stored : L"<default>");
  }
  std::vector<IniLine> before = SortedEntries();
  EXPECT_EQ(before.size(), 6u);
  ASSERT_TRUE(SaveIni());
  FreeIni();
  LoadIni();
  EXPECT_EQ(SortedEntries(), before);
}

// Updating goes through an index over the keys; deletions must keep it true, also for keys that
// come back after being deleted and for duplicates.
TEST_F(StoreTest, ManyKeysStayFoundThroughDeletionsAndReinsertions) {
  std::string text = "HKCU\\D\\K=first\r\nHKCU\\D\\K=second\r\n";
  for (int i = 0; i < 300; i++)
    text += "HKCU\\G" + std::to_string(i % 7) + "\\V" + std::to_string(i) + "=" +
            std::to_string(i) + "\r\n";
  LoadFromProgramFolder(text);
  DeleteRegTree(HKEY_CURRENT_USER, L"G3");
  DeleteSettingValue(L"D", L"K");
  EXPECT_EQ(Read(HKEY_CURRENT_USER, L"D", L"K"), L"<default>");
  EXPECT_EQ(SetSettingString(L"D", L"K", L"again"), 0u);
  for (int i = 0; i < 300; i++) {
    std::wstring group = L"G" + std::to_wstring(i % 7), name = L"V" + std::to_wstring(i);
    EXPECT_EQ(GetSettingDword(group.c_str(), name.c_str(), 9999), i % 7 == 3 ? 9999u : unsigned(i));
    EXPECT_EQ(SetSettingDword(group.c_str(), name.c_str(), i + 1000), 0u);
  }
  std::vector<IniLine> entries = StoreEntries();
  EXPECT_EQ(entries.size(), 304u);  // with the three switches
  EXPECT_EQ(
      std::count(entries.begin(), entries.end(), IniLine{L"HKCU\\D\\K", L"again", kIniQuoted}), 1);
  // Reinserted keys go to the end, in the order written.
  EXPECT_EQ(entries.back(), (IniLine{L"HKCU\\G3\\V297", L"1297", kIniPlain}));
}

TEST_F(StoreTest, IniKeysFollowTheJoinRule) {
  wchar_t key[kIniKeySize];
  EXPECT_TRUE(MakeIniKey(HKEY_CURRENT_USER, L"Setup\\MenuItems", L"AlwaysArc", key, kIniKeySize));
  EXPECT_STREQ(key, L"HKCU\\Setup\\MenuItems\\AlwaysArc");
  MakeIniKey(nullptr, L"Global", L"Integration", key, kIniKeySize);
  EXPECT_STREQ(key, L"Global\\Integration");
  MakeIniKey(HKEY_CURRENT_USER, L"Setup", L"", key, kIniKeySize);
  EXPECT_STREQ(key, L"HKCU\\Setup\\");
  MakeIniKey(HKEY_LOCAL_MACHINE, L"Setup\\", L"X", key, kIniKeySize);
  EXPECT_STREQ(key, L"HKLM\\Setup\\X");
  MakeIniKey(nullptr, L"", L"X", key, kIniKeySize);
  EXPECT_STREQ(key, L"X");
  EXPECT_FALSE(MakeIniKey(HKEY_CURRENT_USER, L"Setup", L"Name", key, 10));
  EXPECT_STREQ(key, L"HKCU\\Setu");
}

TEST_F(StoreTest, DeletionWithACutKeyRemovesNothing) {
  // Cut to the key buffer, the prefix of "...aXYZ\" would be that of "...a\V".
  LoadFromProgramFolder("HKCU\\" + std::string(1018, 'a') + "\\V=1\r\n");
  std::wstring longer = std::wstring(1018, L'a') + L"XYZ";
  DeleteRegTree(HKEY_CURRENT_USER, longer.c_str());
  EXPECT_EQ(StoreEntries().size(), 4u);
}

// Whatever the store loads from a damaged file it saves back unchanged.
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
