// What a deployment system sees of the real uninstall.exe: the exit code of each silent run, no
// window on any silent path, and the log it collects afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "expectednames.h"
#include "machine.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kExitTimeoutMs = 60000;
constexpr DWORD kBatchTimeoutMs = 20000;

class DeployE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    environment_.remove = {L"sfxcmd", L"sfxname"};
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(CopySampleFiles(folder_));
    WriteFileBytes(At(L"Uninstall.lst"), SampleList());
  }

  // Whatever a case set up goes again the product's own way.
  void TearDown() override {
    environment_.set.clear();
    if (Exists(program_) && Exists(At(L"Uninstall.lst"))) RunSilent(L"/S");
    WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  }

  // Runs the program to its end from the installation folder; any window it shows meanwhile
  // fails the test (and is closed, so that the run can end).
  DWORD RunSilent(const std::wstring& arguments, const std::wstring& program = {}) {
    SCOPED_TRACE(arguments);
    TestProcess process;
    EXPECT_TRUE(process.Start(program.empty() ? program_ : program, arguments, environment_,
                              folder_));
    DWORD start = GetTickCount();
    while (process.Running() && GetTickCount() - start < kExitTimeoutMs) {
      HWND window = process.WaitForDialog(200);
      EXPECT_EQ(window, nullptr) << "a window: " << std::string(ReadWindowText(window).begin(),
                                                                ReadWindowText(window).end());
      if (window) PressButton(window, IDOK) || PressButton(window, IDYES);
    }
    EXPECT_TRUE(process.WaitForExit(5000));
    return process.exitCode();
  }

  std::wstring At(const std::wstring& name) const { return folder_ + L"\\" + name; }

  MachineStateLock lock_;  // first in, last out
  TempFolder root_;
  std::wstring folder_ = root_ / L"Ombrix";
  std::wstring program_ = At(L"uninstall.exe");
  EnvironmentChanges environment_;
};

}  // namespace

// Each case in the order a deployment meets them; every one silent, each with its own code.
TEST_F(DeployE2E, SilentRunsShowNoWindowAndEndWithTheirOutcomesCode) {
  std::wstring denied = At(L"obxdenied.exe");
  struct Case {
    const wchar_t* arguments;
    DWORD code;
    std::function<void()> before;
    std::wstring program;
  };
  const Case cases[] = {
      {L"/S /bogus", 1639, {}, {}},
      {L"/quiet /?", 1639, {}, {}},  // help cannot be shown: not what was asked
      {L"/S /warning", 0, {}, {}},
      {L"/S \"/log=..\\existing.txt\"", 1622,
       [this] { WriteFileBytes(root_ / L"existing.txt", "x"); }, {}},
      // The main program missing: setup applies what it can and says it failed.
      {L"/S /setup", 1603, [this] { MoveFileW(At(L"Ombrix.exe").c_str(), At(L"o.bak").c_str()); },
       {}},
      {L"/S /setup", 0, [this] { MoveFileW(At(L"o.bak").c_str(), At(L"Ombrix.exe").c_str()); },
       {}},
      // The user's settings refused: the associations' choices cannot be kept.
      {L"/S /setup", 1603,
       [&] {
         CopyFileW(BuildFolderFile(L"obxdenied.exe").c_str(), denied.c_str(), FALSE);
         environment_.set = {{L"OBXDENY", L"HKCU"}};
       },
       denied},
      {L"/S", 1603,
       [&] {
         environment_.set.clear();
         DeleteFileW(denied.c_str());
         MoveFileW(At(L"Uninstall.lst").c_str(), At(L"list.bak").c_str());
       },
       {}},
      {L"/qn /norestart", 0,
       [this] { MoveFileW(At(L"list.bak").c_str(), At(L"Uninstall.lst").c_str()); }, {}},
  };
  for (const Case& c : cases) {
    if (c.before) c.before();
    EXPECT_EQ(RunSilent(c.arguments, c.program), c.code) << c.arguments;
  }
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
}

// The log names what each run did: the command line, the rights, each registry change with its
// view, each shortcut and file, the batch, and the exit code with its reason.
TEST_F(DeployE2E, LogsOfASetupAndAnUninstallationNameWhatTheyDid) {
  std::wstring setupLog = root_ / L"setup log.txt";
  ASSERT_EQ(RunSilent(L"/S /setup \"/log=" + setupLog + L"\""), 0u);
  std::string log = ReadFileBytes(setupLog);
  for (const char* line :
       {"Ombrix 6.22.0, command line: ", "/S /setup \"/log=", "rights: ",
        "registry set HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ombrix.exe "
        "value (default) (default view): done",
        "registry set HKCR\\.zip value (default) (default view): done",
        "registry set HKCU\\Software\\Ombrix\\Setup\\.zip value ",
        "Ombrix archiver value InstallDate (default view): done", "shortcut ", "Ombrix.lnk to ",
        "exit code 0: done\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(log.find(": error"), std::string::npos) << log;

  // Without a name: the temp folder's next "Ombrix log <date> #<n>.txt".
  environment_.set = {{L"TMP", root_.path()}, {L"TEMP", root_.path()}};
  ASSERT_EQ(RunSilent(L"/S /log"), 0u);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((root_ / L"Ombrix log *.txt").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  log = ReadFileBytes(root_ / found.cFileName);
  std::string folder(folder_.begin(), folder_.end());
  for (std::string line :
       {std::string("rights check (class key, installed-programs record, installation folder): "
                    "granted"),
        std::string("registry delete tree HKCR\\Ombrix (default view): done"),
        std::string("registry delete tree HKCU\\Software\\Ombrix (default view): done"),
        std::string("registry delete key HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                    "Uninstall\\Ombrix archiver (default view): done"),
        "delete " + folder + "\\Ombrix.exe: done", std::string("create file "),
        std::string("start self-removal batch "), std::string("exit code 0: done\r\n")})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
}
