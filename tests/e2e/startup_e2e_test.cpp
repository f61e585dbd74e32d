// The real uninstall.exe, started from a scratch installation folder the way the installer, the
// self-removal batch file and the installed-programs panel start it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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

TEST_F(StartupE2E, UnknownSwitchEndsAtOnceWithoutUninstalling) {
  EXPECT_EQ(Run(L"/Sx"), 0u);
  EXPECT_LT(process_.RunTimeMs(), 1900u);
  EXPECT_NE(GetFileAttributesW(program_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(StartupE2E, InstallerVariableCannotPauseOrWarn) {
  environment_.set = {{L"sfxcmd", L"/wait /warning"}};
  ASSERT_TRUE(process_.Start(program_, L"/Sx", environment_, install_.path()));
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
