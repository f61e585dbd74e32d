// The real uninstall.exe under hostile command lines: giant arguments, unbalanced and doubled
// quotes, thousands of switches. Every run must end with one of the program's exit codes (1 only
// after a cancelled setup dialog), never with a crash. Whatever it asks is declined, so the
// program file stays.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>

#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kRunTimeoutMs = 60000;
// Leaves room for the quoted program path within the system's 32,767 characters.
constexpr size_t kMaxArguments = 32000;

class HostileCommandLineE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFileW(BuildFolderFile(L"uninstall.exe").c_str(), program_.c_str(), FALSE))
        << "uninstall.exe not found beside the test program";
    environment_.remove = {L"sfxcmd", L"sfxname"};
  }
  // A command line that comes out as a plain uninstallation starts the self-removal batch file:
  // it must not run on into the next test.
  void TearDown() override { WaitUntilGone(RemovalBatchFile(), 20000); }

  // Runs the program, declining every question and closing every dialog it shows; checks that
  // it ended normally. Returns the number of dialogs answered.
  unsigned RunDeclining(const std::wstring& arguments) {
    SCOPED_TRACE(testing::Message() << arguments.size() << " characters of arguments");
    TestProcess process;
    EXPECT_TRUE(process.Start(program_, arguments, environment_, install_.path()))
        << "error " << process.lastError();
    unsigned answered = 0;
    DWORD start = GetTickCount();
    while (process.Running() && GetTickCount() - start < kRunTimeoutMs) {
      HWND dialog = process.WaitForDialog(500);
      if (!dialog) continue;
      if (PressButton(dialog, IDNO) || PressButton(dialog, IDCANCEL) || PressButton(dialog, IDOK))
        answered++;
      Sleep(100);
    }
    EXPECT_TRUE(process.WaitForExit(5000)) << "still running";
    DWORD code = process.exitCode();
    // A crash ends with an exception code such as 0xC0000005.
    EXPECT_TRUE(code == 0 || (code == 1 && answered > 0) || code == 1602 || code == 1603 ||
                code == 1639)
        << "exit code 0x" << std::hex << code;
    EXPECT_NE(GetFileAttributesW(program_.c_str()), INVALID_FILE_ATTRIBUTES);
    return answered;
  }

  TempFolder install_;
  std::wstring program_ = install_ / L"uninstall.exe";
  EnvironmentChanges environment_;
};

TEST_F(HostileCommandLineE2E, GiantArgumentsEndNormally) {
  EXPECT_EQ(RunDeclining(L"/noexplorer " + std::wstring(kMaxArguments - 12, L'x')), 0u);
  EXPECT_EQ(RunDeclining(L"/msi /init" + std::wstring(kMaxArguments - 10, L'1')), 0u);
  // An unknown switch: the switches are shown, and the window is closed.
  EXPECT_EQ(RunDeclining(L"/x \"" + std::wstring(kMaxArguments - 4, L' ')), 1u);
}

TEST_F(HostileCommandLineE2E, UnbalancedAndDoubledQuotesEndNormally) {
  // "/msi" starts the MSI-mode uninstallation; the quoted rest is no silent switch, so it asks.
  EXPECT_EQ(RunDeclining(L"/msi \"unbalanced /S -setup"), 1u);
  // "/x\"" is unknown: the switches are shown.
  EXPECT_EQ(RunDeclining(L"\"\"\"\" \"\" \"/x\"\"\" \"\"\"\"\"\"\"\"\"/noex"), 1u);
  // The quote swallows the rest into one silent switch: a silent uninstallation, which finds no
  // list here and ends without a word. A folder holding only the program would be finished off
  // instead.
  WriteFileBytes(install_ / L"readme.txt", "not the program's");
  EXPECT_EQ(RunDeclining(L"\"/S /setup /msi"), 0u);
  // A quoted switch is still a switch: the setup dialog, cancelled.
  EXPECT_EQ(RunDeclining(L"\"/setup\"\"\"\"\" \"x"), 1u);
}

TEST_F(HostileCommandLineE2E, ThousandsOfSwitchesEndNormally) {
  std::wstring many;
  while (many.size() + 24 < kMaxArguments) many += L" /msi -noex /S1 /x -init\"A1\"";
  EXPECT_EQ(RunDeclining(many), 0u);
}

TEST_F(HostileCommandLineE2E, SeededRandomCommandLinesEndNormally) {
  static const wchar_t* const kPieces[] = {
      L" ", L"\t", L"\"", L"\"\"", L"/S", L"-s", L"/x", L"/msi", L"/noex", L"/init", L"-",
      L"/", L"\x00E9\x4E2D", L"\xD800", L"%TEMP%", L"\\\\?\\", L"A1D1"};
  std::mt19937 random(20261210);
  for (unsigned run = 0; run < 6; run++) {
    std::wstring arguments;
    size_t target = 1 + random() % (run % 2 ? kMaxArguments : 200);
    while (arguments.size() < target) {
      if (random() % 50 == 0)
        arguments += std::wstring(random() % 5000, L'y');
      else
        arguments += kPieces[random() % (sizeof kPieces / sizeof kPieces[0])];
    }
    arguments.resize(std::min(arguments.size(), kMaxArguments));
    RunDeclining(arguments);
    if (HasFailure()) return;
  }
}

}  // namespace
