// The real uninstall.exe, started from a scratch installation folder the way the installer, the
// self-removal batch file and the installed-programs panel start it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>

#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kExitTimeoutMs = 30000;

std::wstring ResourceText(unsigned id) {
  wchar_t text[1024] = {};
  LoadStringW(GetModuleHandleW(nullptr), id, text, 1024);
  return text;
}

class StartupE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFileW(BuildFolderFile(L"uninstall.exe").c_str(), program_.c_str(), FALSE))
        << "uninstall.exe not found beside the test program";
    // Whatever the test runner inherited, the installer's variables are set only on purpose.
    environment_.remove = {L"sfxcmd", L"sfxname"};
  }

  // Runs the program to its end without touching any window; returns its exit code.
  DWORD Run(const std::wstring& arguments) {
    EXPECT_TRUE(process_.Start(program_, arguments, environment_, install_.path()))
        << "error " << process_.lastError();
    EXPECT_TRUE(process_.WaitForExit(kExitTimeoutMs));
    return process_.exitCode();
  }

  TempFolder install_;
  std::wstring program_ = install_ / L"uninstall.exe";
  EnvironmentChanges environment_;
  TestProcess process_;
};

TEST_F(StartupE2E, SilentWaitPausesAboutTwoSecondsAndSucceeds) {
  EXPECT_EQ(Run(L"/S /wait"), 0u);
  EXPECT_GE(process_.RunTimeMs(), 1980u);
  EXPECT_LT(process_.RunTimeMs(), 3900u);
  EXPECT_NE(GetFileAttributesW(program_.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A person sees the switches; "/wait" does not act on a line that is not understood.
TEST_F(StartupE2E, UnknownSwitchShowsTheSwitchesAndEndsWithInvalidCommandLine) {
  for (const wchar_t* line : {L"/Sx /wait", L"/?", L"/help"}) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(process_.Start(program_, line, environment_, install_.path()));
    HWND box = process_.WaitForDialog(kExitTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ReadControlText(box, kMessageBoxTextId), ResourceText(5160));
    ASSERT_TRUE(PressButton(box, IDOK));
    ASSERT_TRUE(process_.WaitForExit(kExitTimeoutMs));
    EXPECT_EQ(process_.exitCode(), line[1] == L'S' ? 1639u : 0u);
    EXPECT_LT(process_.RunTimeMs(), 1900u);
    EXPECT_NE(GetFileAttributesW(program_.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(StartupE2E, InstallerVariableCannotPauseOrWarn) {
  environment_.set = {{L"sfxcmd", L"/wait /warning"}};
  ASSERT_TRUE(process_.Start(program_, L"/noexplorer", environment_, install_.path()));
  EXPECT_EQ(process_.WaitForDialog(3000), nullptr);  // gives up early once the process ended
  ASSERT_TRUE(process_.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(process_.exitCode(), 0u);
  EXPECT_LT(process_.RunTimeMs(), 1900u);
}

TEST_F(StartupE2E, WarningNamesTheProgramFileAndEndsWithSuccess) {
  ASSERT_TRUE(process_.Start(program_, L"/warning", environment_, install_.path()));
  HWND box = process_.WaitForDialog(kExitTimeoutMs);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ReadWindowText(box), ResourceText(5106));

  std::wstring note = ResourceText(5108);
  size_t slot = note.find(L"%s");
  ASSERT_NE(slot, std::wstring::npos);
  note.replace(slot, 2, program_);
  EXPECT_EQ(ReadControlText(box, kMessageBoxTextId), ResourceText(5107) + L"\n" + note);

  EXPECT_TRUE(process_.Running());  // the box holds the process until answered
  ASSERT_TRUE(PressButton(box, IDOK));
  ASSERT_TRUE(process_.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(process_.exitCode(), 0u);
}

TEST_F(StartupE2E, SilentSetupFromTheInstallerTakesOverThePresetFile) {
  TempFolder package;
  WriteFileBytes(package / L"ombrix.ini", "[Setup]\r\n");
  environment_.set = {{L"sfxcmd", L"/S"}, {L"sfxname", package / L"obxsetup.exe"}};
  WriteFileBytes(install_ / L"Ombrix.exe", "main program");
  EXPECT_EQ(Run(L"/setup /msi"), 0u);
  EXPECT_EQ(ReadFileBytes(install_ / L"ombrix.ini"), "[Setup]\r\n");

  // The silent setup applied the stored choices to the prefix; take them back the product's own
  // way so that later tests start from a clean registry, and wait for its self-removal batch.
  // The preset file would now make the settings portable: remove it first.
  DeleteFileW((install_ / L"ombrix.ini").c_str());
  WriteFileBytes(install_ / L"Uninstall.lst", "");
  environment_.set.clear();
  EXPECT_EQ(Run(L"/S"), 0u);
  EXPECT_TRUE(WaitUntilGone(program_, 15000));
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), 15000));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix"));
}

// Windows reads the level from the program's own manifest resource, not from the source file.
TEST(BuiltProgram, ManifestAsksForTheHighestAvailableExecutionLevel) {
  HMODULE program = LoadLibraryExW(BuildFolderFile(L"uninstall.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(program, nullptr);
  HRSRC found = FindResourceW(program, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(program, found)));
  ASSERT_NE(data, nullptr);
  std::string manifest(data, SizeofResource(program, found));
  FreeLibrary(program);
  size_t element = manifest.find("<requestedExecutionLevel ");
  ASSERT_NE(element, std::string::npos);
  std::string level = manifest.substr(element, manifest.find("/>", element) - element);
  EXPECT_NE(level.find(" level=\"highestAvailable\""), std::string::npos) << level;
  EXPECT_NE(level.find(" uiAccess=\"false\""), std::string::npos) << level;
  EXPECT_EQ(manifest.find("<requestedExecutionLevel ", element + 1), std::string::npos);
}

}  // namespace

// Inventory tools read the file's version resource; it must say what the installed-programs
// record says.
TEST(BuiltProgram, VersionResourceMatchesTheRecord) {
  HMODULE program = LoadLibraryExW(BuildFolderFile(L"uninstall.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(program, nullptr);
  HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(program, found)));
  ASSERT_NE(data, nullptr);
  std::string block(data, SizeofResource(program, found));
  FreeLibrary(program);
  size_t fixed = block.find("\xBD\x04\xEF\xFE");
  ASSERT_NE(fixed, std::string::npos);
  VS_FIXEDFILEINFO info;
  memcpy(&info, block.data() + fixed, sizeof info);
  EXPECT_EQ(info.dwFileVersionMS, (6u << 16) | 22u);
  EXPECT_EQ(info.dwFileVersionLS, 0u);
  EXPECT_EQ(info.dwProductVersionMS, (6u << 16) | 22u);
  auto wide = [](const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), text.size() * 2 + 2);
  };
  // Each value's name and text, both UTF-16 and terminated, the text aligned to four bytes.
  for (const auto& [name, text] : {std::pair(L"CompanyName", L"Felsor GmbH"),
                                   std::pair(L"FileVersion", L"6.22.0"),
                                   std::pair(L"ProductVersion", L"6.22.0")}) {
    size_t at = block.find(wide(name));
    ASSERT_NE(at, std::string::npos) << name;
    size_t value = (at + wide(name).size() + 3) & ~size_t{3};
    EXPECT_EQ(block.compare(value, wide(text).size(), wide(text)), 0) << name;
  }
}
