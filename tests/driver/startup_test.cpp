// Start-up pieces in-process: argument splitting, the switch grammar, the installer's variables,
// the preset file copy and the helpers every message and dialog of the driver goes through.
#include "driver/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/owners.h"
#include "bitness.h"
#include "driver/cmdline.h"
#include "localisation/langfile.h"
#include "resources/resource.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

std::vector<std::wstring> SplitAll(const wchar_t* text, unsigned capacity = kArgumentSize) {
  std::vector<std::wstring> parts;
  std::vector<wchar_t> argument(capacity + 1);
  while ((text = NextArgument(text, argument.data(), capacity)) != nullptr)
    parts.emplace_back(argument.data());
  return parts;
}

using Parts = std::vector<std::wstring>;

}  // namespace

TEST(NextArgument, SplitsOnSpacesAndTabsAndEndsWithNone) {
  EXPECT_EQ(SplitAll(L"  a\tb  \t c "), (Parts{L"a", L"b", L"c"}));
  wchar_t argument[8] = L"junk";
  EXPECT_EQ(NextArgument(L" \t  ", argument, 8), nullptr);
  EXPECT_EQ(NextArgument(L"", argument, 8), nullptr);
}

TEST(NextArgument, QuotedBlanksStayInOneArgumentAndTheQuotesGo) {
  EXPECT_EQ(SplitAll(L"\"C:\\Program Files\\Ombrix\\uninstall.exe\" /S"),
            (Parts{L"C:\\Program Files\\Ombrix\\uninstall.exe", L"/S"}));
  EXPECT_EQ(SplitAll(L"a\"b c\"d e"), (Parts{L"ab cd", L"e"}));
  EXPECT_EQ(SplitAll(L"\"a b"), (Parts{L"a b"}));  // an unclosed quote runs to the end
}

TEST(NextArgument, DoubledQuoteGivesOneLiteralQuoteAndKeepsTheQuotedState) {
  EXPECT_EQ(SplitAll(L"a\"\"b"), (Parts{L"a\"b"}));
  EXPECT_EQ(SplitAll(L"\"x \"\" y\" z"), (Parts{L"x \" y", L"z"}));
  EXPECT_EQ(SplitAll(L"\"\"\"\" q"), (Parts{L"\"\"", L"q"}));
}

TEST(NextArgument, OverlongArgumentIsCutTerminatedAndSkippedWhole) {
  wchar_t argument[8];
  wmemset(argument, L'#', 8);
  const wchar_t* text = L"abcdefg h";
  const wchar_t* next = NextArgument(text, argument, 4);
  EXPECT_STREQ(argument, L"abc");
  EXPECT_EQ(argument[4], L'#');  // nothing written past the capacity
  EXPECT_EQ(next, text + 7);     // at the blank after the argument
  EXPECT_EQ(SplitAll(text, 4), (Parts{L"abc", L"h"}));
}

class ParseSwitchesTest : public ::testing::Test {
 protected:
  void Parse(const wchar_t* text, bool fromEnvironment = false) {
    setup = false;
    uninstall = false;
    ParseSwitches(fromEnvironment, text, setup, uninstall);
  }
  // A fresh run with the program path in front, as GetCommandLineW gives it.
  void ParseFresh(const std::wstring& switches) {
    runState = RunState{};
    Parse((L"\"C:\\Program Files\\Ombrix\\uninstall.exe\" " + switches).c_str());
  }

  bool setup = false;
  bool uninstall = false;
};

TEST_F(ParseSwitchesTest, NoSwitchRequestsUninstallOnlyOnTheCommandLine) {
  Parse(L"");
  EXPECT_TRUE(uninstall);
  ParseFresh(L"readme.txt S");  // arguments without a switch character do not count
  EXPECT_TRUE(uninstall);
  EXPECT_FALSE(setup);
  EXPECT_FALSE(runState.silent);

  Parse(L"", true);
  EXPECT_FALSE(uninstall);
}

TEST_F(ParseSwitchesTest, SilentSwitchFormsSetSilentAndStillUninstall) {
  for (const wchar_t* form : {L"/S", L"-s", L"/S1", L"/s:", L"/S-", L"\"/S\""}) {
    ParseFresh(form);
    EXPECT_TRUE(runState.silent) << form;
    EXPECT_TRUE(uninstall) << form;
  }
}

TEST_F(ParseSwitchesTest, SwitchesThatOnlyStartWithSAreNotSilentAndMakeTheLineInvalid) {
  for (const wchar_t* form : {L"/Sx", L"/silentx", L"/set", L"/", L"-", L"/unknown", L"/logx",
                              L"/qnx", L"/norestarts", L"/??", L"/helpme"}) {
    ParseFresh(form);
    EXPECT_FALSE(runState.silent) << form;
    EXPECT_FALSE(uninstall) << form;
    EXPECT_FALSE(setup) << form;
    EXPECT_EQ(runState.exitCode, kExitInvalidCommandLine) << form;
  }
}

// What deployment systems pass by habit: other installers' silent switches, "/norestart" and
// "/log" leave the uninstallation as it is; help rules it out.
TEST_F(ParseSwitchesTest, DeploymentSwitchesAreUnderstood) {
  struct Case {
    const wchar_t* switches;
    bool uninstall, silent, help, log;
    const wchar_t* logPath;
  };
  const Case cases[] = {
      {L"/quiet", true, true, false, false, L""},
      {L"/SILENT /norestart", true, true, false, false, L""},
      {L"/verysilent", true, true, false, false, L""},
      {L"/qn /log", true, true, false, true, L""},
      {L"/S \"/log=C:\\my logs\\run.txt\"", true, true, false, true, L"C:\\my logs\\run.txt"},
      {L"/setup /LOG=x.txt", false, false, false, true, L"x.txt"},
      {L"/?", false, false, true, false, L""},
      {L"-Help /S", false, true, true, false, L""},
  };
  for (const Case& c : cases) {
    ParseFresh(c.switches);
    EXPECT_EQ(uninstall, c.uninstall) << c.switches;
    EXPECT_EQ(runState.silent, c.silent) << c.switches;
    EXPECT_EQ(runState.helpRequested, c.help) << c.switches;
    EXPECT_EQ(runState.logRequested, c.log) << c.switches;
    EXPECT_STREQ(runState.logPath, c.logPath) << c.switches;
    EXPECT_EQ(runState.exitCode, kExitSuccess) << c.switches;
  }
  // Only the silent ones count from the installer's variable.
  runState = RunState{};
  Parse(L"/quiet /log /?", true);
  EXPECT_TRUE(runState.silent);
  EXPECT_FALSE(runState.logRequested || runState.helpRequested);
}

TEST_F(ParseSwitchesTest, SetupSwitchIgnoresCaseAndTrailingText) {
  for (const wchar_t* form : {L"/setup", L"-SETUP", L"/Setup", L"/setupnow"}) {
    ParseFresh(form);
    EXPECT_TRUE(setup) << form;
    EXPECT_FALSE(uninstall) << form;
  }
}

TEST_F(ParseSwitchesTest, ModeFlagsNeedTheirComparedPrefix) {
  ParseFresh(L"/msi /noex");
  EXPECT_TRUE(runState.msiMode);
  EXPECT_TRUE(runState.noExplorer);
  ParseFresh(L"-NoExplorer");
  EXPECT_TRUE(runState.noExplorer);
  ParseFresh(L"/ms /noe /wai /warn");
  EXPECT_FALSE(runState.msiMode);
  EXPECT_FALSE(runState.noExplorer);
  EXPECT_FALSE(uninstall);
}

// An MSI package takes the integration back with "/msi"; any other switch still rules it out.
TEST_F(ParseSwitchesTest, MsiSwitchAloneOrSilentRequestsTheMsiUninstallation) {
  struct Case {
    const wchar_t* switches;
    bool uninstall, setup, silent;
  };
  const Case cases[] = {
      {L"/msi", true, false, false},        {L"/S /MSI", true, false, true},
      {L"-msi -s", true, false, true},      {L"/setup /msi", false, true, false},
      {L"/msi /setup /S", false, true, true}, {L"/msi /noex", false, false, false},
      {L"/msi /unknown", false, false, false},
  };
  for (const Case& c : cases) {
    ParseFresh(c.switches);
    EXPECT_TRUE(runState.msiMode) << c.switches;
    EXPECT_EQ(uninstall, c.uninstall) << c.switches;
    EXPECT_EQ(setup, c.setup) << c.switches;
    EXPECT_EQ(runState.silent, c.silent) << c.switches;
  }
}

TEST_F(ParseSwitchesTest, InitKeepsTheRestOfTheArgumentCutTo39Characters) {
  ParseFresh(L"/initialize");
  EXPECT_STREQ(runState.initString, L"ialize");
  std::wstring preset(50, L'x');
  preset[38] = L'9';
  ParseFresh(L"-INIT" + preset);
  EXPECT_EQ(std::wstring(runState.initString), preset.substr(0, 39));
  ParseFresh(L"/init");
  EXPECT_STREQ(runState.initString, L"");
  EXPECT_FALSE(uninstall);
}

TEST_F(ParseSwitchesTest, InstallerVariableOnlyCarriesTheSilentSwitch) {
  Parse(L"/setup /msi /noexplorer /initabc /wait /warning", true);
  EXPECT_FALSE(setup);
  EXPECT_FALSE(uninstall);
  EXPECT_FALSE(runState.msiMode);
  EXPECT_FALSE(runState.noExplorer);
  EXPECT_STREQ(runState.initString, L"");

  Parse(L"/S", true);
  EXPECT_TRUE(runState.silent);
  Parse(L"uninstall.exe /setup");
  EXPECT_TRUE(setup);
  EXPECT_TRUE(runState.silent);  // a silent setup: the two sources add up
}

TEST_F(ParseSwitchesTest, WaitPausesTwoSecondsOnlyFromTheCommandLine) {
  DWORD start = GetTickCount();
  Parse(L"/wait /waitmore", true);
  EXPECT_LT(GetTickCount() - start, 1000u);

  start = GetTickCount();
  Parse(L"/s /wait");
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 1980u);  // the tick count moves in steps of up to about 16 ms
  EXPECT_LT(elapsed, 3900u);
  EXPECT_TRUE(runState.silent);
  EXPECT_FALSE(uninstall);
}

// Neither from the installer's variable, nor on a line that is not understood, nor when silent,
// wherever "/S" stands.
TEST_F(ParseSwitchesTest, WarningShowsNothingFromTheVariableOnAnInvalidLineOrWhenSilent) {
  const std::pair<const wchar_t*, bool> lines[] = {
      {L"/warning", true}, {L"/warning /bogus", false}, {L"/warning /S", false}};
  for (const auto& [line, fromEnvironment] : lines) {
    DialogAnswerer answerer(IDOK, 1500);  // answers a wrongly shown box so the test cannot hang
    runState = RunState{};
    Parse(line, fromEnvironment);
    EXPECT_FALSE(answerer.Wait().found) << line;
  }
}

TEST_F(ParseSwitchesTest, WaitDoesNotPauseOnAnInvalidLine) {
  DWORD start = GetTickCount();
  Parse(L"/wait /bogus");
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_EQ(runState.exitCode, kExitInvalidCommandLine);
}

class InstallerSwitchesTest : public ParseSwitchesTest {
 protected:
  void TearDown() override { SetEnvironmentVariableW(L"sfxcmd", nullptr); }
};

TEST_F(InstallerSwitchesTest, ReadsTheSilentSwitchFromTheVariable) {
  ParseInstallerSwitches();
  EXPECT_FALSE(runState.silent);
  SetEnvironmentVariableW(L"sfxcmd", L"/setup -s");
  ParseInstallerSwitches();
  EXPECT_TRUE(runState.silent);
}

TEST_F(InstallerSwitchesTest, OverlongVariableIsCutNotDropped) {
  std::wstring value = L"/S " + std::wstring(3000, L'x');
  SetEnvironmentVariableW(L"sfxcmd", value.c_str());
  ParseInstallerSwitches();
  EXPECT_TRUE(runState.silent);
}

namespace {

void SetAppDataOverride(const void* data, DWORD bytes, DWORD type = REG_SZ) {
  ScopedKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Ombrix\\Paths", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), L"AppData", 0, type, static_cast<const BYTE*>(data), bytes),
            ERROR_SUCCESS);
}

void SetAppDataOverride(const std::wstring& path) {
  SetAppDataOverride(path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

// Where the folder goes without a usable override: the roaming data folder when it exists, else
// the folder of the running program.
std::wstring FallbackFolder() {
  wchar_t folder[kPathSize];
  if (GetAppDataFolder(folder, kPathSize)) return folder;
  GetModuleFileNameW(nullptr, folder, kPathSize);
  RemoveNameFromPath(folder);
  return folder;
}

std::wstring UserDataFolder() {
  wchar_t folder[kPathSize];
  GetUserDataFolder(folder, kPathSize);
  return folder;
}

}  // namespace

TEST(GetUserDataFolder, ExistingOverrideWins) {
  ScratchRegistry registry;
  TempFolder user;
  SetAppDataOverride(user.path());
  EXPECT_EQ(UserDataFolder(), user.path());
}

TEST(GetUserDataFolder, MissingEmptyOrNonTextOverrideFallsBack) {
  ScratchRegistry registry;
  std::wstring fallback = FallbackFolder();
  ASSERT_FALSE(fallback.empty());
  EXPECT_EQ(UserDataFolder(), fallback);  // no key at all

  SetAppDataOverride(L"C:\\obx\\no such folder");
  EXPECT_EQ(UserDataFolder(), fallback);
  SetAppDataOverride(L"");
  EXPECT_EQ(UserDataFolder(), fallback);
  DWORD number = 5;
  SetAppDataOverride(&number, sizeof number, REG_DWORD);
  EXPECT_EQ(UserDataFolder(), fallback);
}

TEST(GetUserDataFolder, OverrideLongerThanTheBufferIsNotCutIntoAnotherFolder) {
  ScratchRegistry registry;
  TempFolder temp;
  // Long enough that the fallback fits wherever the build folder is.
  std::wstring parent = temp / std::wstring(150, L'u');
  ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
  std::wstring fallback = FallbackFolder();
  // Cut to the buffer, the override would name its existing parent folder.
  SetAppDataOverride(parent + L"\\deeper");
  unsigned size = static_cast<unsigned>(parent.size() + 1);
  ASSERT_LT(fallback.size(), size);
  std::vector<wchar_t> out(size + 4, L'#');
  GetUserDataFolder(out.data(), size);
  EXPECT_EQ(std::wstring(out.data()), fallback);
  EXPECT_EQ(out[size], L'#');
}

class PresetFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(kPathSize, savedFolder_);
    for (const wchar_t* name : {L"package", L"install", L"user"})
      ASSERT_TRUE(CreateDirectoryW((temp_ / name).c_str(), nullptr));
    SetAppDataOverride(temp_ / L"user");
    ASSERT_TRUE(SetCurrentDirectoryW((temp_ / L"install").c_str()));
    SetEnvironmentVariableW(L"sfxname", (temp_ / L"package\\obxsetup.exe").c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryW(savedFolder_);  // the temp folder cannot go while it is current
    SetEnvironmentVariableW(L"sfxname", nullptr);
  }

  std::wstring Installed() const { return temp_ / L"install\\ombrix.ini"; }
  bool InstalledExists() const {
    return GetFileAttributesW(Installed().c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  ScratchRegistry registry_;
  TempFolder temp_;
  wchar_t savedFolder_[kPathSize] = {};
};

TEST_F(PresetFileTest, CopiesThePackagesPresetIntoTheCurrentFolder) {
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "[Setup]\r\n");
  CopyPresetFile(L"ombrix.ini");
  EXPECT_EQ(ReadFileBytes(Installed()), "[Setup]\r\n");
}

TEST_F(PresetFileTest, NeverOverwritesAnExistingFile) {
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "package");
  WriteFileBytes(Installed(), "mine");
  CopyPresetFile(L"ombrix.ini");
  EXPECT_EQ(ReadFileBytes(Installed()), "mine");
}

TEST_F(PresetFileTest, SkipsWhenTheUserDataFolderHasOne) {
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "package");
  WriteFileBytes(temp_ / L"user\\Ombrix.ini", "user");
  CopyPresetFile(L"ombrix.ini");
  EXPECT_FALSE(InstalledExists());
}

TEST_F(PresetFileTest, SkipsWithoutPackagePathOrPreset) {
  CopyPresetFile(L"ombrix.ini");  // the package brought none
  EXPECT_FALSE(InstalledExists());

  WriteFileBytes(temp_ / L"package\\ombrix.ini", "package");
  SetEnvironmentVariableW(L"sfxname", L"");
  CopyPresetFile(L"ombrix.ini");
  SetEnvironmentVariableW(L"sfxname", nullptr);
  CopyPresetFile(L"ombrix.ini");
  EXPECT_FALSE(InstalledExists());
}

TEST_F(PresetFileTest, OverlongPackagePathIsNotCutIntoAnotherFolder) {
  // Cut to the buffer, this path would end inside the long folder name and so point at the
  // preset in "package" instead of the package's own folder.
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "wrong folder");
  std::wstring path = temp_ / (L"package\\" + std::wstring(kPathSize, L'x') + L"\\obxsetup.exe");
  SetEnvironmentVariableW(L"sfxname", path.c_str());
  CopyPresetFile(L"ombrix.ini");
  EXPECT_FALSE(InstalledExists());
}

namespace {

// The file's volume and index as this process opens it (through the system folder's redirection
// in a WOW64 process); zero when it cannot be opened.
ULONGLONG FileIdentity(const std::wstring& path) {
  ScopedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return 0;
  return (ULONGLONG(info.dwVolumeSerialNumber ^ info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

}  // namespace

TEST(LoadSystemModule, LoadsFromTheSystemFolderOnly) {
  ScopedModule richEdit(LoadSystemModule(L"riched20.dll"));
  ASSERT_TRUE(richEdit);
  wchar_t system[kPathSize], loaded[kPathSize], own[kPathSize];
  GetSystemDirectoryW(system, kPathSize);
  GetModuleFileNameW(richEdit.get(), loaded, kPathSize);
  // A WOW64 process's system folder is SysWOW64: the loader names the module by the folder asked
  // for (Wine) or by SysWOW64, and the file is SysWOW64's either way.
  if (kWow64Process)
    ASSERT_GT(GetSystemWow64DirectoryW(own, kPathSize), 0u);
  else
    GetSystemDirectoryW(own, kPathSize);
  auto startsWith = [&loaded](const wchar_t* folder) {
    return CompareStringOrdinal(loaded, static_cast<int>(wcslen(folder)), folder, -1, TRUE) ==
           CSTR_EQUAL;
  };
  EXPECT_TRUE(startsWith(system) || startsWith(own)) << loaded;
  ULONGLONG identity = FileIdentity(loaded);
  EXPECT_NE(identity, 0u) << loaded;
  EXPECT_EQ(identity, FileIdentity(std::wstring(own) + L"\\riched20.dll")) << loaded;
  EXPECT_FALSE(ScopedModule(LoadSystemModule(L"obxnosuch.dll")));

  // A module that exists only in the current folder is not picked up. Wine's own system modules
  // do not load under another name, so the probe is the sample Explorer module.
  TempFolder temp;
  std::wstring probe = temp / L"obxprobe.dll";
  ASSERT_TRUE(CopyFileW(BuildFolderFile(kOwnExplorerModule).c_str(), probe.c_str(), FALSE));
  ASSERT_TRUE(ScopedModule(LoadLibraryW(probe.c_str())));  // the copy itself loads
  wchar_t saved[kPathSize];
  GetCurrentDirectoryW(kPathSize, saved);
  SetCurrentDirectoryW(temp.path().c_str());
  EXPECT_FALSE(ScopedModule(LoadSystemModule(L"obxprobe.dll")));
  SetCurrentDirectoryW(saved);
}

// Wine's message box ignores MB_RIGHT and MB_RTLREADING, so only the pass-through shows here.
// The program's own text first, then the system's own words for the error; nothing when silent.
TEST(ShowRightsError, JoinsTheMessageWithTheSystemsTextAndStaysQuietWhenSilent) {
  wchar_t system[256] = {};
  ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_ACCESS_DENIED, 0, system, 256, nullptr),
            0u);
  std::wstring systemText = system;
  while (!systemText.empty() && (systemText.back() == L'\n' || systemText.back() == L'\r'))
    systemText.pop_back();
  wchar_t own[1024] = {}, caption[256] = {};
  LoadStringW(GetModuleHandleW(nullptr), IDS_UNINSTALLNORIGHTS, own, 1024);
  LoadStringW(GetModuleHandleW(nullptr), IDS_UNINSTALLOBX, caption, 256);
  ASSERT_NE(own[0], 0);
  {
    DialogAnswerer answerer(IDOK);
    ShowRightsError(IDS_UNINSTALLNORIGHTS, IDS_UNINSTALLOBX, ERROR_ACCESS_DENIED);
    const DialogSnapshot& box = answerer.Wait();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, caption);
    ASSERT_NE(box.Control(kMessageBoxTextId), nullptr);
    EXPECT_EQ(box.Control(kMessageBoxTextId)->text, std::wstring(own) + L"\n\n" + systemText);
  }
  runState.silent = true;
  DialogAnswerer answerer(IDOK, 1500);
  ShowRightsError(IDS_UNINSTALLNORIGHTS, IDS_UNINSTALLOBX, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(answerer.Wait().found);
}

TEST(ShowMessage, ShowsTheTextAndReturnsThePressedButtonButNothingWhenSilent) {
  {
    DialogAnswerer answerer(IDCANCEL);
    EXPECT_EQ(ShowMessage(nullptr, L"obx text", L"obx probe", MB_OKCANCEL), IDCANCEL);
    const DialogSnapshot& box = answerer.Wait();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, L"obx probe");
    ASSERT_NE(box.Control(kMessageBoxTextId), nullptr);
    EXPECT_EQ(box.Control(kMessageBoxTextId)->text, L"obx text");
  }
  runState.silent = true;
  DialogAnswerer answerer(IDYES, 1500);
  EXPECT_EQ(ShowMessage(nullptr, L"obx text", L"obx probe", MB_YESNO), 0);
  EXPECT_FALSE(answerer.Wait().found);
}
