// Uninstalling for real: a sandbox installation folder with the sample files, setup integration
// applied in the prefix's real registry, then the real uninstall.exe started the way the
// installed-programs panel starts it, its message boxes answered by UI automation, and Wine's own
// cmd.exe and uninstaller seen doing their part.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <iterator>
#include <string>
#include <vector>

#include "base/owners.h"
#include "expectednames.h"
#include "machine.h"
#include "resources/resource.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kExitTimeoutMs = 30000;
constexpr DWORD kBatchTimeoutMs = 20000;
// Folders before their files, as the installer writes it.
const std::string kListTemplate =
    "Docs\r\nDocs\\Guide\r\nDocs\\Guide\\start.txt\r\nDocs\\readme.txt\r\n" +
    SampleList("Ombrix.ini\r\n");

std::wstring ResourceText(unsigned id) {
  wchar_t text[1024] = {};
  LoadStringW(GetModuleHandleW(nullptr), id, text, 1024);
  return text;
}

std::wstring ReadString(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  wchar_t text[2048] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  RegGetValueW(root, subkey, name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

// Setup puts it on the user's desktop when one is there already, else on the common one.
bool DesktopShortcutExists() {
  for (int folder : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
    wchar_t desktop[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, folder, nullptr, 0, desktop);
    if (Exists(std::wstring(desktop) + L"\\Ombrix.lnk")) return true;
  }
  return false;
}

// The processes that the process with this id started (an uninstallation's self-removal batch),
// held for waiting; asked once that process has ended, so that it starts no more.
std::vector<ScopedHandle> StartedBy(DWORD parentId) {
  std::vector<ScopedHandle> children;
  ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry))
    if (entry.th32ParentProcessID == parentId)
      children.emplace_back(
          OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
  return children;
}

// What Wine's own uninstaller lists, one "key|||name" line per installed program.
std::string InstalledProgramsList() {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return {};
  ScopedHandle reader(read), writer(write);
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  wchar_t command[] = L"uninstaller.exe --list";
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &info))
    return {};
  ScopedHandle process(info.hProcess), thread(info.hThread);
  writer.reset();
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
  WaitForSingleObject(info.hProcess, 10000);
  return output;
}

struct DialogSearch {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindCaptionedDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  if (IsWindowVisible(window) && ReadClassName(window) == L"#32770" &&
      ReadWindowText(window) == search->caption) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A visible dialog with this caption in any process (the batch file starts its own).
HWND WaitForAnyDialog(const std::wstring& caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    DialogSearch search{caption};
    EnumWindows(FindCaptionedDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found || GetTickCount() - start >= timeoutMs) return search.found;
    Sleep(50);
  }
}

class UninstallE2E : public ::testing::Test {
 protected:
  void SetUp() override { environment_.remove = {L"sfxcmd", L"sfxname"}; }
  void TearDown() override {
    // A batch file still at work would meet the next test's installation.
    WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs);
  }

  // The sample installation in a folder of this name, with a list of everything in it.
  void Install(const std::wstring& name = L"Ombrix", const char* list = kListTemplate.c_str()) {
    folder_ = root_ / name;
    program_ = folder_ + L"\\uninstall.exe";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(CopySampleFiles(folder_));
    ASSERT_TRUE(CreateDirectoryW(At(L"Docs").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(At(L"Docs\\Guide").c_str(), nullptr));
    WriteFileBytes(At(L"Docs\\readme.txt"), "readme");
    WriteFileBytes(At(L"Docs\\Guide\\start.txt"), "start");
    if (list) WriteFileBytes(At(L"Uninstall.lst"), list);
  }

  // What a confirmed setup dialog does, run from the installation folder.
  void RunSetup() {
    std::wstring helper = At(L"obxsetup.exe");
    ASSERT_TRUE(CopyFileW(BuildFolderFile(L"obxsetup.exe").c_str(), helper.c_str(), FALSE));
    TestProcess setup;
    ASSERT_TRUE(setup.Start(helper, L"", environment_, folder_));
    ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs));
    EXPECT_EQ(setup.exitCode(), 0u);
    DeleteFileW(helper.c_str());
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
    ASSERT_EQ(ReadString(HKEY_CLASSES_ROOT, L".zip", nullptr), L"Ombrix.ZIP");
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix"));
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
    ASSERT_TRUE(DesktopShortcutExists());
    ASSERT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRecordKey, L"UninstallString"),
              L"\"" + program_ + L"\"");
  }

  // Starts the program as the panel does: the record's command line, no arguments.
  void StartUninstall(const std::wstring& arguments = L"") {
    ASSERT_TRUE(uninstaller_.Start(program_, arguments, environment_, root_.path()))
        << "error " << uninstaller_.lastError();
  }

  // Waits for the program's next message box, checks its caption and text, and answers it.
  void Answer(unsigned textId, int button, const std::wstring& text = {}) {
    HWND box = uninstaller_.WaitForDialog(kExitTimeoutMs);
    ASSERT_NE(box, nullptr) << "no message box for message " << textId;
    EXPECT_EQ(ReadWindowText(box), ResourceText(5106));
    EXPECT_EQ(ReadControlText(box, kMessageBoxTextId), text.empty() ? ResourceText(textId) : text);
    ASSERT_TRUE(PressButton(box, button));
  }

  void ExpectEndsWith(DWORD code) {
    ASSERT_TRUE(uninstaller_.WaitForExit(kExitTimeoutMs));
    EXPECT_EQ(uninstaller_.exitCode(), code);
  }
  void ExpectEndsWithSuccess() { ExpectEndsWith(0); }

  void ExpectIntegrationGone() {
    for (const wchar_t* key : {L"Ombrix", L"Ombrix.ZIP", L"Ombrix.REV", L".rev"})
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_NE(ReadString(HKEY_CLASSES_ROOT, L".zip", nullptr), L"Ombrix.ZIP");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix"));
    EXPECT_FALSE(DesktopShortcutExists());
  }

  std::wstring At(const std::wstring& relative) const { return folder_ + L"\\" + relative; }

  MachineStateLock lock_;  // first in, last out
  TempFolder root_;
  std::wstring folder_;
  std::wstring program_;
  EnvironmentChanges environment_;
  TestProcess uninstaller_;
};

}  // namespace

TEST_F(UninstallE2E, ConfirmationAnsweredNoChangesNothing) {
  Install();
  RunSetup();
  StartUninstall();
  Answer(5109, IDNO);
  ExpectEndsWith(1602);  // ERROR_INSTALL_USEREXIT
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(DesktopShortcutExists());
  for (const wchar_t* file : kSampleFiles) EXPECT_TRUE(Exists(At(file))) << file;
  EXPECT_TRUE(Exists(At(L"Uninstall.lst")));
  EXPECT_FALSE(Exists(RemovalBatchFile()));
}

// A silent run shows nothing: the exit code tells that nothing could be done.
TEST_F(UninstallE2E, MissingListIsReportedOrWhenSilentEndsWithFailureAndNothingChanges) {
  Install(L"Ombrix", nullptr);
  RunSetup();
  std::wstring error = ResourceText(5110);
  error.replace(error.find(L"%s"), 2, L"Uninstall.lst");

  StartUninstall();
  Answer(5109, IDYES);
  Answer(5110, IDOK, error);
  ExpectEndsWith(1603);

  StartUninstall(L"/S");
  EXPECT_EQ(uninstaller_.WaitForDialog(3000), nullptr);
  ExpectEndsWith(1603);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  for (const wchar_t* file : kSampleFiles) EXPECT_TRUE(Exists(At(file))) << file;
}

TEST_F(UninstallE2E, ConfirmedUninstallTakesEverythingAndTheBatchRemovesFileAndFolder) {
  Install();
  RunSetup();
  EXPECT_NE(InstalledProgramsList().find("|||Ombrix 6.22"), std::string::npos);
  // The main program's data in the temp folder that its settings name.
  std::wstring temp = root_ / L"my temp";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((temp + L"\\Ombrix.exe.WebView2").c_str(), nullptr));
  WriteFileBytes(temp + L"\\Ombrix.exe.WebView2\\state.dat", "state");
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Ombrix\\Paths", L"TempFolder", REG_SZ,
                            temp.c_str(), static_cast<DWORD>((temp.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);

  StartUninstall();
  Answer(5109, IDYES);
  ExpectEndsWithSuccess();
  ExpectIntegrationGone();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
  for (const wchar_t* file : {L"Ombrix.exe", L"obxext.dll", L"Obx.txt", L"Uninstall.lst"})
    EXPECT_FALSE(Exists(At(file))) << file;
  EXPECT_FALSE(Exists(At(L"Docs")));
  EXPECT_FALSE(IsPendingDeletion(folder_));
  EXPECT_FALSE(Exists(temp + L"\\Ombrix.exe.WebView2"));

  // The rest is cmd.exe's: the program file, the folder and the batch file itself.
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
  EXPECT_FALSE(Exists(program_));
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
  EXPECT_EQ(InstalledProgramsList().find("|||Ombrix 6.22"), std::string::npos);
}

TEST_F(UninstallE2E, FileInUseIsRenamedScheduledAndTheRestartNoteShown) {
  std::string list = kListTemplate + "holder.exe\r\n";
  Install(L"Ombrix", list.c_str());
  ASSERT_TRUE(CopyFileW(BuildFolderFile(L"obxidle.exe").c_str(), At(L"holder.exe").c_str(), FALSE));
  TestProcess holder;
  ASSERT_TRUE(holder.Start(At(L"holder.exe"), L"", environment_, folder_));
  Sleep(300);

  StartUninstall();
  Answer(5109, IDYES);
  Answer(5116, IDOK);
  ExpectEndsWith(3010);  // ERROR_SUCCESS_REBOOT_REQUIRED
  EXPECT_FALSE(Exists(At(L"holder.exe")));
  EXPECT_TRUE(Exists(At(L"holder.exe.0.tmp")));
  EXPECT_TRUE(IsPendingDeletion(At(L"holder.exe.0.tmp")));
  EXPECT_TRUE(IsPendingDeletion(folder_));
  EXPECT_TRUE(WaitUntilGone(program_, kBatchTimeoutMs));
  EXPECT_TRUE(Exists(folder_));  // it still holds the renamed file until the restart
}

TEST_F(UninstallE2E, FileNeitherDeletedNorScheduledIsNamedInsteadOfARestart) {
  std::string list = kListTemplate + "locked.txt\r\n";
  Install(L"Ombrix", list.c_str());
  WriteFileBytes(At(L"locked.txt"), "locked");
  // Neither deleted nor renamed while held so; Wine does not schedule while the list of pending
  // renames is not a list of strings.
  ScopedHandle holder(CreateFileW(At(L"locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  PendingRenamesValue pending;
  ASSERT_TRUE(pending.Replace(REG_SZ, L"damaged"));
  std::wstring text = ResourceText(5108);
  text.replace(text.find(L"%s"), 2, At(L"locked.txt"));

  StartUninstall();
  Answer(5109, IDYES);
  Answer(5108, IDOK, text);
  ExpectEndsWith(1603);  // a file stays with nothing to remove it
  EXPECT_TRUE(Exists(At(L"locked.txt")));
  EXPECT_FALSE(Exists(At(L"Docs")));
  EXPECT_TRUE(WaitUntilGone(program_, kBatchTimeoutMs));
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
}

TEST_F(UninstallE2E, SilentAsksNothingSchedulesTheFolderTooAndStartsNoWarning) {
  std::string list = kListTemplate + "holder.exe\r\n";
  Install(L"Ombrix", list.c_str());
  ASSERT_TRUE(CopyFileW(BuildFolderFile(L"obxidle.exe").c_str(), At(L"holder.exe").c_str(), FALSE));
  TestProcess holder;
  ASSERT_TRUE(holder.Start(At(L"holder.exe"), L"", environment_, folder_));
  Sleep(300);

  StartUninstall(L"/S");
  // Held without share-delete, the program file outlives the batch file's five tries.
  ScopedHandle pin;
  DWORD start = GetTickCount();
  while (!pin && GetTickCount() - start < 5000) {
    pin.reset(CreateFileW(program_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          0, nullptr));
    if (!pin) Sleep(20);
  }
  ASSERT_TRUE(pin);
  EXPECT_EQ(uninstaller_.WaitForDialog(3000), nullptr);
  ExpectEndsWith(3010);
  EXPECT_TRUE(IsPendingDeletion(At(L"holder.exe.0.tmp")));
  EXPECT_TRUE(IsPendingDeletion(folder_));
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
  EXPECT_EQ(WaitForAnyDialog(ResourceText(5106), 1000), nullptr);
  EXPECT_TRUE(Exists(program_));
}

// The batch's "/warning" run of a program file it could not delete is no program an elevated
// batch starts from a folder a standard user may change (as every folder reads under Wine); from
// one only administrators may change (as under Program Files) it is.
TEST_F(UninstallE2E, ProgramFileTheBatchCannotDeleteIsReportedByAWarning) {
  for (bool adminOnly : {false, true}) {
    SCOPED_TRACE(adminOnly);
    Install(adminOnly ? L"Ombrix2" : L"Ombrix");
    if (adminOnly) {
      ASSERT_TRUE(CopyFileW(BuildFolderFile(L"obxdenied.exe").c_str(), program_.c_str(), FALSE));
      environment_.set = {{L"OBXDENY", L"ADMINONLY"}};
    }
    StartUninstall();
    Answer(5109, IDYES);
    ScopedHandle pin;
    DWORD start = GetTickCount();
    while (!pin && GetTickCount() - start < 5000) {
      pin.reset(CreateFileW(program_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr));
      if (!pin) Sleep(20);
    }
    ASSERT_TRUE(pin);
    ExpectEndsWithSuccess();
    // Started by the batch file with "/warning", after its five tries.
    HWND warning = WaitForAnyDialog(ResourceText(5106), adminOnly ? kBatchTimeoutMs : 9000);
    if (!adminOnly) {
      EXPECT_EQ(warning, nullptr);
      EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
      if (warning) PressButton(warning, IDOK);
      continue;
    }
    ASSERT_NE(warning, nullptr);
    std::wstring text = ReadControlText(warning, kMessageBoxTextId);
    EXPECT_EQ(text.find(ResourceText(5107)), 0u);
    EXPECT_NE(text.find(program_), std::wstring::npos);
    pin.reset();
    PressButton(warning, IDOK);
    EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
  }
}

TEST_F(UninstallE2E, FolderNameWithSymbolsAndForeignLettersIsRemovedByTheBatch) {
  Install(L"Ombrix 100% & Co ^ Caf\u00e9 \u0416\u0443\u043a");
  StartUninstall(L"/S");
  ExpectEndsWithSuccess();
  EXPECT_FALSE(Exists(At(L"Docs")));
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
  // The batch named nothing else: the sandbox itself is still there.
  EXPECT_TRUE(Exists(root_.path()));
}

// The settings file of a portable installation goes with the folder. One in the per-user data
// folder that is a link to a file elsewhere is not written through by this elevated run (a
// standard user may have made the link): the user's file stays as it was, and the run fails and
// says so unless silent.
TEST_F(UninstallE2E, IniFileOfAPortableInstallationDoesNotComeBack) {
  const std::string settings = "HKCU\\Setup\\Links\\Desktop=1\r\n";
  wchar_t appData[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData), S_OK);
  // Wine removes neither a host link nor its target's name: the host's rm does, once the link
  // was made. The folder goes when this made it.
  struct UserLink {
    std::wstring folder, link;
    bool madeFolder = false, madeLink = false;
    ~UserLink() {
      std::string host = HostPath(link);
      std::wstring command = L"rm -f \"" + std::wstring(host.begin(), host.end()) + L"\"";
      STARTUPINFOW startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process = {};
      if (madeLink && CreateProcessW(L"Z:\\bin\\rm", &command[0], nullptr, nullptr, FALSE, 0,
                                     nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        for (int tries = 0; tries < 100 && Exists(link); tries++) Sleep(50);
      }
      if (madeFolder) RemoveDirectoryW(folder.c_str());
    }
  } user{std::wstring(appData) + L"\\Ombrix", std::wstring(appData) + L"\\Ombrix\\Ombrix.ini"};
  user.madeFolder = CreateDirectoryW(user.folder.c_str(), nullptr) != FALSE;
  ASSERT_FALSE(Exists(user.link)) << "a settings file of the user's own";
  std::wstring userFile = root_ / L"user.ini";
  WriteFileBytes(userFile, settings);
  user.madeLink = MakeFileLink(user.link, userFile);
  ASSERT_TRUE(user.madeLink);
  struct Case {
    const wchar_t* switches;
    bool linked;
  } cases[] = {{L"/S", true}, {L"", true}, {L"/S", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.linked ? "linked, " : "") << "switches: " << c.switches);
    Install();
    if (!c.linked) WriteFileBytes(At(L"Ombrix.ini"), settings);
    StartUninstall(c.switches);
    if (!c.switches[0]) Answer(IDS_CONTINUEUNINSTALL, IDYES);
    if (!c.switches[0] && c.linked) Answer(IDS_PARTLYDONE, IDOK);
    ExpectEndsWith(c.linked ? 1603 : 0);
    EXPECT_FALSE(Exists(At(L"Ombrix.ini")));
    EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
    EXPECT_EQ(ReadFileBytes(userFile), settings);
  }
}

// An ini file copied in beside the program after a registry setup (as an installer carrying one
// does) switching everything off: the uninstallation still takes the integration back.
TEST_F(UninstallE2E, IniThatAppearedAfterARegistrySetupDoesNotSteerTheRemoval) {
  Install();
  RunSetup();
  WriteFileBytes(At(L"Ombrix.ini"), "Global\\Integration=0\r\n");
  StartUninstall(L"/S");
  ExpectEndsWithSuccess();
  ExpectIntegrationGone();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
}

// A run stopped after its list went leaves only the program in the folder, and the record naming
// it. A copy alone in a folder that the record does not name is no such run: it changes nothing.
TEST_F(UninstallE2E, RunFindingOnlyItselfWithoutAListFinishesOnlyWhereTheRecordNamesIt) {
  Install();
  RunSetup();
  std::wstring installed = program_;
  folder_ = root_ / L"Stray";
  program_ = folder_ + L"\\uninstall.exe";
  ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  ASSERT_TRUE(CopyFileW(BuildFolderFile(L"uninstall.exe").c_str(), program_.c_str(), FALSE));
  StartUninstall(L"/S");
  if (HWND box = uninstaller_.WaitForDialog(3000)) PressButton(box, IDOK);  // the missing list
  ASSERT_TRUE(uninstaller_.WaitForExit(kExitTimeoutMs));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".zip", nullptr), L"Ombrix.ZIP");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRecordKey, L"UninstallString"),
            L"\"" + installed + L"\"");
  EXPECT_TRUE(Exists(program_));
  Sleep(1000);
  EXPECT_FALSE(Exists(RemovalBatchFile()));

  // The installation's own run, stopped after its list went.
  DeleteFileW(program_.c_str());
  RemoveDirectoryW(folder_.c_str());
  folder_ = root_ / L"Ombrix";
  program_ = installed;
  for (const wchar_t* file : {L"Docs\\Guide\\start.txt", L"Docs\\readme.txt", L"Uninstall.lst",
                              L"obxnew.dat", L"zipnew.dat", L"Ombrix.exe", L"obxext.dll",
                              L"obxext64.dll", L"Ombrix.chm", L"Obx.txt"})
    DeleteFileW(At(file).c_str());
  RemoveDirectoryW(At(L"Docs\\Guide").c_str());
  RemoveDirectoryW(At(L"Docs").c_str());
  ASSERT_FALSE(Exists(At(L"Uninstall.lst")));
  StartUninstall(L"/S");
  ExpectEndsWithSuccess();
  ExpectIntegrationGone();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
}

// The installer's upgrade: the old version's silent uninstallation, then at once the new files into
// the same folder and the new setup. The old run's batch takes only the old program file.
TEST_F(UninstallE2E, UpgradeInPlaceKeepsTheNewInstallationWholeAndUninstallable) {
  Install();
  RunSetup();
  StartUninstall(L"/S");
  ExpectEndsWithSuccess();
  CreateDirectoryW(folder_.c_str(), nullptr);
  ASSERT_NO_FATAL_FAILURE(CopySampleFiles(folder_));
  WriteFileBytes(At(L"Uninstall.lst"), SampleList());
  TestProcess setup;
  ASSERT_TRUE(setup.Start(program_, L"/setup /S", environment_, folder_));
  ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(setup.exitCode(), 0u);

  // The old batch has ended (it deletes itself last), long after the new setup.
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
  for (const wchar_t* file : kSampleFiles) EXPECT_TRUE(Exists(At(file))) << file;
  EXPECT_TRUE(Exists(At(L"Uninstall.lst")));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRecordKey, L"UninstallString"),
            L"\"" + program_ + L"\"");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".zip", nullptr), L"Ombrix.ZIP");

  StartUninstall(L"/S");
  ExpectEndsWithSuccess();
  ExpectIntegrationGone();
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
}

// An object of the lock's name that a process without an administrator's full rights made (owned
// by the user, not the administrators), an event or a mutex it holds, is no running copy for an
// elevated run: the uninstallation works as if it were not there.
TEST_F(UninstallE2E, LockOfTheNameMadeByAnotherOwnerIsNoRunningCopy) {
  ScopedHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
  BYTE user[256];
  DWORD length = 0;
  ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, user, sizeof user, &length));
  wchar_t* sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
  std::wstring sddl = L"O:" + std::wstring(sid) + L"D:(A;;GA;;;WD)";
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  const wchar_t kName[] = L"Global\\Ombrix.SetupOrUninstall";
  for (bool event : {true, false}) {
    SCOPED_TRACE(event ? "event" : "mutex");
    ScopedHandle squatter(event ? CreateEventW(&security, TRUE, FALSE, kName)
                                : CreateMutexW(&security, TRUE, kName));
    ASSERT_TRUE(squatter);
    Install(event ? L"Ombrix" : L"Ombrix2");
    RunSetup();
    StartUninstall(L"/S");
    ExpectEndsWithSuccess();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
    EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
  }
  LocalFree(descriptor);
}

namespace {

constexpr wchar_t kOtherType[] = L"OtherArchiver.zip";

class KilledUninstallE2E : public UninstallE2E {
 protected:
  struct KillPoint {
    const char* name;
    bool (KilledUninstallE2E::*reached)() const;
  };

  // The points, as seen from outside; public for the test's table.
 public:
  bool Started() const { return true; }
  bool ShortcutGone() const { return !DesktopShortcutExists(); }
  bool RecordGone() const { return !KeyExists(HKEY_LOCAL_MACHINE, kRecordKey); }
  bool FirstFileGone() const { return !Exists(At(L"Docs\\Guide\\start.txt")); }
  bool LastFileGone() const { return !Exists(At(L"Obx.txt")); }
  bool FoldersGone() const { return !Exists(At(L"Docs")); }
  bool ListGone() const { return !Exists(At(L"Uninstall.lst")); }

 protected:

  void SetUp() override {
    UninstallE2E::SetUp();
    zipBefore_ = ReadString(HKEY_CLASSES_ROOT, L".zip", nullptr);
  }
  void TearDown() override {
    UninstallE2E::TearDown();
    if (zipBefore_.empty())
      RegDeleteKeyValueW(HKEY_CLASSES_ROOT, L".zip", nullptr);
    else
      RegSetKeyValueW(HKEY_CLASSES_ROOT, L".zip", nullptr, REG_SZ, zipBefore_.c_str(),
                      static_cast<DWORD>((zipBefore_.size() + 1) * sizeof(wchar_t)));
  }

  // Another archiver's ".zip", which setup takes over and the uninstallation must give back.
  void PlantOtherArchiver() {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, L".zip", nullptr, REG_SZ, kOtherType,
                              sizeof kOtherType),
              ERROR_SUCCESS);
  }

  // Ends the uninstallation as soon as the point is seen from outside; false when it ended
  // before.
  bool StopAt(const KillPoint& point) {
    DWORD start = GetTickCount();
    while (uninstaller_.Running() && GetTickCount() - start < kExitTimeoutMs) {
      if ((this->*point.reached)()) {
        TerminateProcess(uninstaller_.handle(), 9);
        uninstaller_.WaitForExit(kExitTimeoutMs);
        return true;
      }
      Sleep(1);
    }
    return false;
  }

  std::wstring zipBefore_;
};

}  // namespace

TEST_F(KilledUninstallE2E, StoppedAnywhereAndRunAgainEndsAsASingleRunDoes) {
  const KillPoint kPoints[] = {
      {"at once", &KilledUninstallE2E::Started},
      {"shortcut gone", &KilledUninstallE2E::ShortcutGone},
      {"record gone", &KilledUninstallE2E::RecordGone},
      {"first file gone", &KilledUninstallE2E::FirstFileGone},
      {"last file gone", &KilledUninstallE2E::LastFileGone},
      {"folders gone", &KilledUninstallE2E::FoldersGone},
      {"list gone", &KilledUninstallE2E::ListGone},
  };
  unsigned stopped = 0;
  for (const KillPoint& point : kPoints) {
    SCOPED_TRACE(point.name);
    PlantOtherArchiver();
    Install();
    RunSetup();
    if (HasFatalFailure()) return;
    StartUninstall(L"/S");
    DWORD killedRun = uninstaller_.id();
    if (StopAt(point)) stopped++;
    // A batch file already started finishes on its own and may have taken the program.
    DWORD runAgain = 0;
    if (Exists(program_)) {
      StartUninstall(L"/S");
      ASSERT_TRUE(uninstaller_.WaitForExit(kExitTimeoutMs)) << "the run again did not end";
      EXPECT_EQ(uninstaller_.exitCode(), 0u);
      runAgain = uninstaller_.id();
    }
    EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
    // Both runs' batches end here, not in the next point's installation nor after the test, whose
    // output they hold. Under Wine, a run killed while it starts its batch can leave an
    // interpreter that never got going and waits for its dead parent for ever: that one is ended.
    for (ScopedHandle& batch : StartedBy(killedRun))
      if (WaitForSingleObject(batch.get(), kBatchTimeoutMs) == WAIT_TIMEOUT)
        TerminateProcess(batch.get(), 1);
    if (runAgain) {
      for (ScopedHandle& batch : StartedBy(runAgain))
        EXPECT_EQ(WaitForSingleObject(batch.get(), kBatchTimeoutMs), WAIT_OBJECT_0);
    }
    // A run killed before its batch file was complete or started leaves that file, never run to
    // its end (the rerun writes its own under another name); the others deleted themselves.
    DeleteLeftRemovalBatches();
    ExpectIntegrationGone();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".zip", nullptr), kOtherType);
    if (HasFailure()) return;
  }
  // Most points were met while the program still ran.
  EXPECT_GE(stopped, std::size(kPoints) - 2);
}

// An MSI package takes back the integration; its record, App Paths and files stay its own. It
// need not install the list, which this never reads.
TEST_F(UninstallE2E, MsiSwitchTakesBackTheIntegrationAndLeavesRecordAndFiles) {
  Install(L"Ombrix", nullptr);
  for (const wchar_t* switches : {L"/msi", L"/S /msi"}) {
    RunSetup();
    StartUninstall(switches);
    if (std::wstring(switches) == L"/msi") Answer(5109, IDYES);
    ExpectEndsWithSuccess();
    ExpectIntegrationGone();
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey)) << switches;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey)) << switches;
    for (const wchar_t* file : kSampleFiles) EXPECT_TRUE(Exists(At(file))) << file;
    EXPECT_TRUE(Exists(At(L"Docs\\Guide\\start.txt")));
    EXPECT_FALSE(Exists(RemovalBatchFile()));
  }
  // The ordinary uninstallation takes the rest, so later tests start clean.
  WriteFileBytes(At(L"Uninstall.lst"), kListTemplate);
  StartUninstall(L"/S");
  ExpectEndsWithSuccess();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
}

// With the rights of a standard user, each denied on its own through the platform overrides (the
// record's root, the classes, the installation folder): the message comes before any question,
// nothing changes, and the run ends with 5; under /S without the message.
TEST_F(UninstallE2E, WithoutRightsItSaysSoFirstChangesNothingAndEndsWithFive) {
  Install();
  RunSetup();
  ASSERT_TRUE(CopyFileW(BuildFolderFile(L"obxdenied.exe").c_str(), program_.c_str(), FALSE));
  for (const wchar_t* deny : {L"HKLM", L"HKCR", L"FOLDER"}) {
    SCOPED_TRACE(testing::Message() << deny);
    environment_.set = {{L"OBXDENY", deny}};
    StartUninstall();
    HWND box = uninstaller_.WaitForDialog(kExitTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ReadWindowText(box), ResourceText(5106));
    std::wstring text = ReadControlText(box, kMessageBoxTextId);
    EXPECT_EQ(text.find(ResourceText(5152) + L"\n\n"), 0u) << text;
    ASSERT_TRUE(PressButton(box, IDOK));
    ASSERT_TRUE(uninstaller_.WaitForExit(kExitTimeoutMs));
    EXPECT_EQ(uninstaller_.exitCode(), 5u);

    StartUninstall(L"/S");
    EXPECT_EQ(uninstaller_.WaitForDialog(3000), nullptr);
    ASSERT_TRUE(uninstaller_.WaitForExit(kExitTimeoutMs));
    EXPECT_EQ(uninstaller_.exitCode(), 5u);

    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".zip", nullptr), L"Ombrix.ZIP");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
    EXPECT_TRUE(DesktopShortcutExists());
    for (const wchar_t* file : kSampleFiles) EXPECT_TRUE(Exists(At(file))) << file;
    EXPECT_TRUE(Exists(At(L"Docs\\Guide\\start.txt")));
    EXPECT_TRUE(Exists(At(L"Uninstall.lst")));
    EXPECT_FALSE(Exists(RemovalBatchFile()));
  }
  // An MSI package's uninstallation needs the class key too.
  environment_.set = {{L"OBXDENY", L"HKCR"}};
  StartUninstall(L"/S /msi");
  ASSERT_TRUE(uninstaller_.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(uninstaller_.exitCode(), 5u);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));

  // With the rights, the real program takes everything, so later tests start clean.
  environment_.set.clear();
  ASSERT_TRUE(CopyFileW(BuildFolderFile(L"uninstall.exe").c_str(), program_.c_str(), FALSE));
  StartUninstall(L"/S");
  ExpectEndsWithSuccess();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
}

// A second copy started while one runs changes nothing: an interactive one says so and ends at
// once with 1618 (ERROR_INSTALL_ALREADY_RUNNING), a silent one waits until the first has ended,
// then works.
TEST_F(UninstallE2E, SecondCopyEndsOrWaitsWhileTheFirstRuns) {
  Install();
  RunSetup();
  StartUninstall();
  HWND question = uninstaller_.WaitForDialog(kExitTimeoutMs);
  ASSERT_NE(question, nullptr);

  TestProcess interactive;
  ASSERT_TRUE(interactive.Start(program_, L"", environment_, root_.path()));
  HWND note = interactive.WaitForDialog(kExitTimeoutMs);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(ReadWindowText(note), ResourceText(5106));
  EXPECT_EQ(ReadControlText(note, kMessageBoxTextId), ResourceText(5155));
  ASSERT_TRUE(PressButton(note, IDOK));
  ASSERT_TRUE(interactive.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(interactive.exitCode(), 1618u);
  TestProcess silent;
  ASSERT_TRUE(silent.Start(program_, L"/S", environment_, root_.path()));
  EXPECT_FALSE(silent.WaitForExit(2000));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_TRUE(Exists(At(L"Ombrix.exe")));

  ASSERT_TRUE(PressButton(question, IDNO));
  ExpectEndsWith(1602);
  ASSERT_TRUE(silent.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(silent.exitCode(), 0u);
  ExpectIntegrationGone();
  EXPECT_TRUE(WaitUntilGone(folder_, kBatchTimeoutMs));
}
