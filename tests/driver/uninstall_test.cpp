// The uninstall procedure's pieces in-process: the deletion passes over a list in a temp folder,
// the entries they refuse, files in use, the batch file's place, security, paths and lines and its
// run through the interpreter, the temp folder setting, and taking the integration back in a
// scratch registry.
#include "driver/uninstall.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <cwctype>
#include <list>
#include <set>
#include <string>

#include "base/owners.h"
#include "driver/record.h"
#include "driver/startup.h"
#include "expectednames.h"
#include "filesystem/fileops.h"
#include "filesystem/secure.h"
#include "integration/apply.h"
#include "integration/options.h"
#include "machine.h"
#include "settings/registry.h"
#include "settings/store.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

// For texts known to be plain ASCII.
std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string InOemCodePage(const std::wstring& text) {
  char bytes[4096] = {};
  WideCharToMultiByte(CP_OEMCP, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
  return bytes;
}

// An installation folder "Ombrix" in a temp folder, with its list beside the files.
class DeletionPassesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)); }

  // Held open meanwhile, as by the uninstallation.
  DeletionResult Run(const std::string& list, const wchar_t* programName = L"uninstall.exe") {
    WriteFileBytes(listPath_, list);
    ScopedHandle file(CreateFileW(listPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    FileList files;
    EXPECT_TRUE(file && ReadFileList(file.get(), files));
    return DeleteListedFiles(files, (folder_ + L"\\").c_str(), programName);
  }
  std::wstring At(const std::wstring& relative) const { return folder_ + L"\\" + relative; }
  void MakeFile(const std::wstring& relative) { WriteFileBytes(At(relative), "x"); }
  void MakeFolder(const std::wstring& relative) {
    ASSERT_TRUE(CreateDirectoryW(At(relative).c_str(), nullptr));
  }
  // Runs a copy of a program that stays until it is ended, from the installation folder.
  void RunFromFolder(const std::wstring& name, TestProcess& process) {
    ASSERT_TRUE(CopyFileW(BuildFolderFile(L"obxidle.exe").c_str(), At(name).c_str(), FALSE));
    ASSERT_TRUE(process.Start(At(name), L""));
    Sleep(300);  // until the image is mapped
  }

  TempFolder temp_;
  std::wstring folder_ = temp_ / L"Ombrix";
  std::wstring listPath_ = folder_ + L"\\Uninstall.lst";
};

}  // namespace

TEST(IsSafeListEntry, RelativeNamesInsideTheFolderPass) {
  for (const wchar_t* entry : {L"Ombrix.exe", L"sub\\file.txt", L"sub/file.txt", L" leading",
                               L".hidden", L"name..txt", L"sub\\", L"NULL", L"console.txt",
                               L"COM10", L"LPTX", L"xnul", L"AUXILIARY.txt", L"sub\\CONIN",
                               L" NUL", L"COM\u00b4"})
    EXPECT_TRUE(IsSafeListEntry(entry)) << entry;
}

TEST(IsSafeListEntry, NamesThatLeaveTheFolderAreRefused) {
  for (const wchar_t* entry :
       {L"", L"\\Windows\\win.ini", L"/etc", L"C:\\Windows", L"C:win.ini", L"\\\\?\\C:\\x",
        L"\\\\.\\C:", L"\\\\server\\share\\x", L"..", L"..\\x", L"sub\\..\\..\\x", L"sub/../x",
        L".", L"sub\\.\\x", L"... ", L"sub\\. .\\x", L"file.txt:stream", L"file.txt::$DATA",
        // Devices, in any case, with an extension, trailing dots or blanks, in any component.
        L"NUL", L"nul", L"Con.txt", L"PRN.", L"AUX .log", L"com1", L"COM9.dat", L"lpt1...",
        L"LPT0", L"COM\u00b9", L"LPT\u00b3.x", L"CONIN$", L"conout$.txt", L"sub\\NUL",
        L"NUL\\x.txt", L"a/aux/b", L"nul  ", L"CON.tar.gz"})
    EXPECT_FALSE(IsSafeListEntry(entry)) << entry;
}

TEST_F(DeletionPassesTest, FoldersListedBeforeTheirContentsGoAfterThemInAnyOrder) {
  MakeFolder(L"sub");
  MakeFile(L"sub\\a.txt");
  MakeFolder(L"a");
  MakeFolder(L"a\\b");
  MakeFolder(L"a\\b\\c");
  SetFileAttributesW(At(L"a\\b").c_str(), FILE_ATTRIBUTE_READONLY);
  MakeFile(L"a\\b\\c\\f.txt");
  MakeFolder(L"kept");
  MakeFile(L"kept\\unlisted.txt");
  DeletionResult result = Run("sub\r\na\na\\b\\c\\\na\\b\nkept\nsub\\a.txt\na/b/c/f.txt\n");
  EXPECT_EQ(result.removed, 6u);
  EXPECT_FALSE(result.scheduled);
  EXPECT_FALSE(Exists(At(L"sub")));
  EXPECT_FALSE(Exists(At(L"a")));
  EXPECT_TRUE(Exists(At(L"kept\\unlisted.txt")));  // a folder that is not empty stays
}

TEST_F(DeletionPassesTest, TwoHundredLevelsListedOutsideInGoAtOnce) {
  std::string list, entry;
  for (int level = 0; level < 200; level++) {
    entry += level ? "\\d" : "d";
    list += entry + "\r\n";
    ASSERT_TRUE(CreateDirectoryW(At(std::wstring(entry.begin(), entry.end())).c_str(), nullptr));
  }
  entry += "\\f.txt";
  MakeFile(std::wstring(entry.begin(), entry.end()));
  list += entry + "\r\n";
  DWORD start = GetTickCount();
  DeletionResult result = Run(list);
  // One pass per level took over a minute here, then gave up on the folder.
  EXPECT_LT(GetTickCount() - start, 15000u);
  EXPECT_EQ(result.removed, 201u);
  EXPECT_FALSE(Exists(At(L"d")));
}

// An attacker waits until the deletion has begun in a listed folder, then exchanges that folder
// for a link to a folder outside holding files of the listed names: the rest of the folder's
// entries must not be deleted through the link. The attacker runs on the host, outside Windows'
// sharing rules, as fast as it can.
TEST_F(DeletionPassesTest, AListedFolderExchangedWhileItIsEmptiedIsNeverFollowed) {
  TempFolder work;
  std::string inst = HostPath(folder_), base = HostPath(work.path());
  if (inst.empty()) GTEST_SKIP() << "needs the host's shell to exchange folders";
  std::string list;
  for (int i = 1; i <= 1000; i++) list += "sub\\f" + std::to_string(i) + "\r\n";
  list += "sub\r\n";
  std::string script =
      "cd '" + inst + "' && mkdir sub '" + base + "/outside' && for i in $(seq 1000); do "
      ": > sub/f$i; : > '" + base + "/outside/f'$i; done\n"
      "touch '" + base + "/stamp' && touch '" + base + "/ready'\n"
      "while ! [ sub -nt '" + base + "/stamp' ]; do :; done\n"
      "mv sub sub.old && ln -s '" + base + "/outside' sub && touch '" + base + "/swapped'\n";
  WriteFileBytes(work / L"attack.sh", script);
  ASSERT_TRUE(StartHostScript(base + "/attack.sh"));
  for (int i = 0; i < 400 && !PathExists(work / L"ready"); i++) Sleep(25);
  ASSERT_TRUE(PathExists(work / L"ready"));
  Run(list);
  for (int i = 0; i < 200 && !PathExists(work / L"swapped"); i++) Sleep(25);
  ASSERT_TRUE(PathExists(work / L"swapped")) << "the exchange never happened";
  EXPECT_EQ(ListFiles(work / L"outside").size(), 1000u);
}

TEST_F(DeletionPassesTest, ListsInUtf16AndUtf8WithTheirMarksAreRead) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::wstring text = L"caf\u00e9\u0416.txt\r\nsub\\b.txt\nsub\r\n";
  std::string little = "\xFF\xFE", big = "\xFE\xFF";
  for (wchar_t ch : text) {
    little += static_cast<char>(ch & 0xFF);
    little += static_cast<char>(ch >> 8);
    big += static_cast<char>(ch >> 8);
    big += static_cast<char>(ch & 0xFF);
  }
  char utf8[256] = {};
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
  for (const Case& c : {Case{"UTF-16 LE", little}, Case{"UTF-16 BE", big},
                        Case{"UTF-8", "\xEF\xBB\xBF" + std::string(utf8)}}) {
    MakeFile(L"caf\u00e9\u0416.txt");
    MakeFolder(L"sub");
    MakeFile(L"sub\\b.txt");
    DeletionResult result = Run(c.bytes);
    EXPECT_EQ(result.removed, 3u) << c.name;
    EXPECT_FALSE(Exists(At(L"caf\u00e9\u0416.txt"))) << c.name;
    EXPECT_FALSE(Exists(At(L"sub"))) << c.name;
  }
}

TEST_F(DeletionPassesTest, DeviceNamesAreNeitherDeletedNorScheduled) {
  DeletionResult result = Run("NUL\r\nCON.txt\r\naux \r\nsub\\COM1.log\r\nLPT1...\r\nCONOUT$\r\n");
  EXPECT_FALSE(result.scheduled);
  EXPECT_EQ(result.unscheduled, 0u);
  EXPECT_EQ(result.removed, 0u);
}

TEST_F(DeletionPassesTest, LinksAreRemovedThemselvesAndNeverFollowed) {
  std::wstring outside = temp_ / L"outside";
  ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((outside + L"\\sub").c_str(), nullptr));
  WriteFileBytes(outside + L"\\keep.txt", "keep");
  WriteFileBytes(outside + L"\\sub\\keep2.txt", "keep");
  MakeFolder(L"real");
  MakeFolder(L"real2");
  // A listed folder that is a link, and links in the middle of listed paths, one of them listed
  // itself and one not.
  if (!MakeDirectoryLink(At(L"linked"), outside) || !MakeDirectoryLink(At(L"real\\mid"), outside) ||
      !MakeDirectoryLink(At(L"real2\\mid"), outside))
    GTEST_SKIP() << "no directory link on this system";
  DeletionResult result = Run(
      "linked\\keep.txt\nlinked\\sub\\keep2.txt\nlinked\\sub\nlinked\nreal\\mid\\keep.txt\n"
      "real\\mid\\sub\\keep2.txt\nreal\\mid\\sub\nreal\\mid\nreal\nreal2\\mid\\sub\\keep2.txt\n"
      "real2\\mid\\keep.txt\nreal2\n");
  EXPECT_EQ(ReadFileBytes(outside + L"\\keep.txt"), "keep");
  EXPECT_EQ(ReadFileBytes(outside + L"\\sub\\keep2.txt"), "keep");
  // Windows removes the three links and then the two folders that held them. Wine cannot remove
  // a link to a folder, so the links and their folders stay there, untouched.
  if (Exists(At(L"linked"))) {
    EXPECT_EQ(result.removed, 0u);
    for (const wchar_t* link : {L"linked", L"real\\mid", L"real2\\mid"})
      EXPECT_TRUE(GetFileAttributesW(At(link).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << link;
  } else {
    EXPECT_FALSE(Exists(At(L"real")));
    EXPECT_FALSE(Exists(At(L"real2")));
    EXPECT_EQ(result.removed, 5u);
  }
}

TEST_F(DeletionPassesTest, LineEndsBlanksEmptyLinesAndReadOnlyFiles) {
  MakeFile(L"a.txt");
  MakeFile(L" b.txt");
  MakeFile(L"b.txt");
  MakeFile(L"ro.txt");
  SetFileAttributesW(At(L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  MakeFile(L"last.txt");
  MakeFolder(L"lead");
  MakeFile(L"lead\\c.txt");
  // A leading separator: the folder's own path joined to the entry.
  DeletionResult result = Run("\\lead\\c.txt\r\n/lead\r\na.txt  \t\r\n\r\n\n b.txt\r\n"
                              "ro.txt\r\n   \r\nmissing.txt\nlast.txt");
  EXPECT_EQ(result.removed, 6u);
  EXPECT_FALSE(Exists(At(L"lead")));
  EXPECT_FALSE(Exists(At(L"a.txt")));
  EXPECT_FALSE(Exists(At(L" b.txt")));
  EXPECT_TRUE(Exists(At(L"b.txt")));  // the leading blank belongs to the name
  EXPECT_FALSE(Exists(At(L"ro.txt")));
  EXPECT_FALSE(Exists(At(L"last.txt")));  // no line end after the last entry
  EXPECT_FALSE(result.scheduled);
}

TEST_F(DeletionPassesTest, EntriesNamingAnythingOutsideTheFolderAreNeverDeleted) {
  std::wstring outside = temp_ / L"outside.txt";
  WriteFileBytes(outside, "keep");
  MakeFolder(L"sub");
  MakeFile(L"keep.txt");
  std::string full = Ascii(outside);
  std::string list = "..\\outside.txt\r\n" + full + "\r\n" + full.substr(2) + "\r\n" +
                     "\\\\?\\" + full + "\r\n" + "C:" + full.substr(3) + "\r\n" +
                     "\\\\server\\share\\outside.txt\r\nsub\\..\\..\\outside.txt\r\n" +
                     "sub/../../outside.txt\r\nkeep.txt:stream\r\n.\r\nsub\\.\r\n";
  DeletionResult result = Run(list);
  EXPECT_EQ(result.removed, 0u);
  EXPECT_TRUE(Exists(outside));
  EXPECT_TRUE(Exists(At(L"keep.txt")));
  EXPECT_TRUE(Exists(At(L"sub")));
  EXPECT_TRUE(Exists(folder_));
}

TEST_F(DeletionPassesTest, EntriesTooLongForTheirBufferAreNotCutIntoOthers) {
  MakeFile(L"victim.txt");
  MakeFile(L"first.txt");
  MakeFile(L"other.txt");
  // Read in 2047-byte pieces, this line would be the entries "first.txt" and "other.txt".
  std::string first = "first.txt";
  std::string overlongLine = first + std::string(2047 - first.size(), ' ') + "other.txt\r\n";
  // Cut to the path buffer, this one would name "victim.txt" exactly.
  unsigned folderLength = static_cast<unsigned>(folder_.size()) + 1;
  std::string cutEntry = "victim.txt" + std::string(2047 - folderLength - 10 + 5, 'y') + "\r\n";
  ASSERT_LT(cutEntry.size(), 2047u);
  DeletionResult result = Run(overlongLine + cutEntry);
  EXPECT_EQ(result.removed, 0u);
  EXPECT_TRUE(Exists(At(L"victim.txt")));
  EXPECT_TRUE(Exists(At(L"first.txt")));
  EXPECT_TRUE(Exists(At(L"other.txt")));
}

TEST_F(DeletionPassesTest, RunningProgramIsRenamedToAFreeTempNameAndScheduled) {
  MachineStateLock machine;  // the pending list is the machine's
  TestProcess holder;
  RunFromFolder(L"holder.exe", holder);
  MakeFile(L"holder.exe.0.tmp");
  DeletionResult result = Run("holder.exe\r\n");
  EXPECT_TRUE(result.scheduled);
  EXPECT_EQ(result.removed, 0u);
  EXPECT_FALSE(Exists(At(L"holder.exe")));  // its name is free at once
  EXPECT_TRUE(Exists(At(L"holder.exe.1.tmp")));
  EXPECT_TRUE(IsPendingDeletion(At(L"holder.exe.1.tmp")));
  EXPECT_FALSE(IsPendingDeletion(At(L"holder.exe.0.tmp")));
}

TEST_F(DeletionPassesTest, FileLockedAgainstRenamingIsScheduledUnderItsOwnName) {
  MachineStateLock machine;
  MakeFile(L"locked.txt");
  ScopedHandle lock(CreateFileW(At(L"locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock);
  DeletionResult result = Run("locked.txt\r\n");
  EXPECT_TRUE(result.scheduled);
  EXPECT_TRUE(Exists(At(L"locked.txt")));
  EXPECT_TRUE(IsPendingDeletion(At(L"locked.txt")));
}

TEST_F(DeletionPassesTest, FileThatCannotBeScheduledIsNamedForDeletionByHand) {
  MachineStateLock machine;
  PendingRenamesValue pending;
  // Wine refuses to schedule while the value is not a list of strings: with the file held, both
  // the rename and the scheduling fail.
  ASSERT_TRUE(pending.Replace(REG_SZ, L"damaged"));
  MakeFile(L"locked.txt");
  ScopedHandle lock(CreateFileW(At(L"locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock);
  MakeFile(L"locked2.txt");
  ScopedHandle lock2(CreateFileW(At(L"locked2.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
  DeletionResult result = Run("locked.txt\r\nlocked2.txt\r\n");
  EXPECT_FALSE(result.scheduled);
  EXPECT_EQ(result.unscheduled, 2u);
  EXPECT_EQ(std::wstring(result.left), At(L"locked.txt") + L"\n" + At(L"locked2.txt"));
}

TEST_F(DeletionPassesTest, RunningUninstallerAndTheOpenListAreLeftForLater) {
  TestProcess program;
  RunFromFolder(L"Uninstall.EXE", program);
  DeletionResult result = Run("uninstall.exe\r\nuninstall.lst\r\n");
  EXPECT_FALSE(result.scheduled);
  EXPECT_TRUE(Exists(At(L"Uninstall.EXE")));
  EXPECT_TRUE(Exists(listPath_));
  EXPECT_FALSE(IsPendingDeletion(At(L"Uninstall.EXE")));
  EXPECT_FALSE(IsPendingDeletion(listPath_));
}

TEST(GetProgramFolder, DropsTheNameButKeepsADriveRoot) {
  wchar_t folder[64];
  ASSERT_TRUE(GetProgramFolder(L"C:\\Program Files\\Ombrix\\uninstall.exe", folder, 64));
  EXPECT_STREQ(folder, L"C:\\Program Files\\Ombrix");
  ASSERT_TRUE(GetProgramFolder(L"C:\\uninstall.exe", folder, 64));
  EXPECT_STREQ(folder, L"C:\\");
  EXPECT_FALSE(GetProgramFolder(L"uninstall.exe", folder, 64));
}

TEST(MakeBatchPath, PathsInTheInterpretersCodePageStayAndPercentIsDoubled) {
  ASSERT_EQ(GetOEMCP(), 437u) << "the cases below assume the OEM code page of this prefix";
  wchar_t out[kPathSize];
  ASSERT_TRUE(MakeBatchPath(L"C:\\Ombrix 100%\\%PATH%.exe", out, kPathSize));
  EXPECT_STREQ(out, L"C:\\Ombrix 100%%\\%%PATH%%.exe");
  // Accented letters exist in the OEM code page, though at other bytes than in the ANSI one.
  ASSERT_TRUE(MakeBatchPath(L"C:\\Caf\u00e9 & Co ^1\\uninstall.exe", out, kPathSize));
  EXPECT_STREQ(out, L"C:\\Caf\u00e9 & Co ^1\\uninstall.exe");
  // Too small a buffer gives nothing rather than a cut path.
  EXPECT_FALSE(MakeBatchPath(L"C:\\a%b", out, 7));
  EXPECT_STREQ(out, L"");
}

TEST(MakeBatchPath, LettersOutsideTheCodePageTakeTheShortFormOrNothing) {
  TempFolder temp;
  std::wstring folder = temp / L"\u0416\u0443\u043a 100%";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t out[kPathSize];
  ASSERT_TRUE(MakeBatchPath(folder.c_str(), out, kPathSize));
  std::wstring form = out;
  EXPECT_EQ(form.find(L'\u0416'), std::wstring::npos);
  // Undoubled, the short form names the same folder.
  std::wstring single;
  for (size_t i = 0; i < form.size(); i++) {
    single += form[i];
    if (form[i] == L'%') i++;
  }
  wchar_t longForm[kPathSize] = {};
  GetLongPathNameW(single.c_str(), longForm, kPathSize);
  EXPECT_EQ(std::wstring(longForm), folder);

  // A file that does not exist has no short form.
  EXPECT_FALSE(MakeBatchPath((folder + L"\\missing\u0416.exe").c_str(), out, kPathSize));
  // A best-fit stand-in (the Greek Omega for the Ohm sign) is no exact form either.
  EXPECT_FALSE(MakeBatchPath(L"C:\\missing\\\u2126.exe", out, kPathSize));
}

TEST(WriteBatchLine, WritesTheInterpretersBytesWithoutTerminatorOrNothing) {
  TempFolder temp;
  std::wstring path = temp / L"line.bat";
  {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                  nullptr));
    ASSERT_TRUE(file);
    EXPECT_TRUE(WriteBatchLine(file.get(), L"del \"Caf\u00e9\"\r\n"));
    EXPECT_FALSE(WriteBatchLine(file.get(), L"del \"\u0416\"\r\n"));
  }
  EXPECT_EQ(ReadFileBytes(path), InOemCodePage(L"del \"Caf\u00e9\"\r\n"));
  EXPECT_EQ(ReadFileBytes(path), "del \"Caf\x82\"\r\n");
}

namespace {

// Batches made with the elevation answer given; whatever a test leaves is removed at its end.
class RemovalBatchTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (RemovalBatch& batch : batches_) {
      batch.file.reset();
      DeleteFileW(batch.path);
    }
  }

  RemovalBatch& Create(bool elevated) {
    SetElevationOverride(&elevated);
    batches_.emplace_back();
    EXPECT_TRUE(CreateRemovalBatch(batches_.back()));
    return batches_.back();
  }

  std::list<RemovalBatch> batches_;
};

std::wstring SystemTempFolder() {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp";
}

std::wstring UserTempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = temp;
  return folder.substr(0, folder.size() - 1);
}

// "Uninstall_Obx_" and 16 hexadecimal digits, then the extension.
bool IsRandomBatchName(const std::wstring& name, const std::wstring& extension) {
  const std::wstring prefix = L"Uninstall_Obx_";
  if (name.size() != prefix.size() + 16 + extension.size() || name.find(prefix) != 0 ||
      name.substr(name.size() - extension.size()) != extension)
    return false;
  for (size_t i = prefix.size(); i < prefix.size() + 16; i++)
    if (!iswxdigit(name[i])) return false;
  return true;
}

// The SIDs (as strings) that the DACL read back from the file system grants anything to, and
// whether it is protected against entries from the parent.
struct ReadBackDacl {
  std::set<std::wstring> granted;
  bool isProtected = false;
};

ReadBackDacl ReadDacl(const std::wstring& path) {
  ReadBackDacl result;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  if (!descriptor) return result;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  result.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl && i < dacl->AceCount; i++) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    wchar_t* sid = nullptr;
    if (ace->Mask != 0 && ConvertSidToStringSidW(&ace->SidStart, &sid)) {
      result.granted.insert(sid);
      LocalFree(sid);
    }
  }
  LocalFree(descriptor);
  return result;
}

std::wstring CurrentUserSid() {
  ScopedHandle token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
  BYTE buffer[256];
  DWORD length = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length)) return L"";
  wchar_t* sid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) return L"";
  std::wstring text = sid;
  LocalFree(sid);
  return text;
}

const std::wstring kAdministratorsSid = L"S-1-5-32-544", kSystemSid = L"S-1-5-18";

// Nobody but administrators and SYSTEM may change the batch or its folder. Windows reads back
// exactly those two entries, protected; Wine keeps a file's security as Unix permission bits and
// reads back the owner (the current user) and SYSTEM, and no one else.
void ExpectAdminOnly(const std::wstring& path) {
  SCOPED_TRACE(path);
  ReadBackDacl dacl = ReadDacl(path);
  EXPECT_FALSE(dacl.granted.empty());
  for (const std::wstring& sid : dacl.granted)
    EXPECT_TRUE(sid == kAdministratorsSid || sid == kSystemSid || sid == CurrentUserSid()) << sid;
  EXPECT_TRUE(dacl.granted.count(kSystemSid));
  bool onWindows = dacl.granted.count(kAdministratorsSid) != 0;
  EXPECT_TRUE(!onWindows || dacl.isProtected);
}

}  // namespace

// Elevated, the batch lies in the system's temp folder, and only administrators and SYSTEM may
// change it; not elevated, in the user's temp folder. Either way under a new random
// name, and held so that nobody can open it for writing, delete or rename it meanwhile, while
// the interpreter (which shares writing) can read it.
TEST_F(RemovalBatchTest, PlaceNameSecurityAndSharingFollowElevation) {
  for (bool elevated : {true, false}) {
    SCOPED_TRACE(elevated);
    RemovalBatch& batch = Create(elevated);
    RemovalBatch& other = Create(elevated);
    std::wstring path = batch.path, name = PointToName(batch.path);
    EXPECT_TRUE(IsRandomBatchName(name, L".Bat")) << name;
    EXPECT_NE(name, std::wstring(PointToName(other.path)));
    std::wstring folder = path.substr(0, path.size() - name.size() - 1);
    if (elevated) {
      EXPECT_EQ(folder, SystemTempFolder());
      ExpectAdminOnly(path);
      // The same read-back sees others' access on a file made with the default security.
      std::wstring plain = SystemTempFolder() + L"\\" + UniqueName(L"plain");
      WriteFileBytes(plain, "x");
      std::set<std::wstring> others = ReadDacl(plain).granted;
      DeleteFileW(plain.c_str());
      others.erase(kAdministratorsSid);
      others.erase(kSystemSid);
      others.erase(CurrentUserSid());
      EXPECT_FALSE(others.empty());
    } else {
      EXPECT_EQ(folder, UserTempFolder());
    }

    for (DWORD access : {static_cast<DWORD>(GENERIC_WRITE), static_cast<DWORD>(DELETE)}) {
      SetLastError(0xdeadbeef);
      ScopedHandle writer(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                      FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
      EXPECT_FALSE(writer) << access;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << access;
    }
    EXPECT_FALSE(MoveFileW(batch.path, (path + L".moved").c_str()));
    ScopedHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
  }
}

// First the wait for the end of the process that wrote it, by no program; then the tries, each
// a second's pause by the system's ping apart; the folder only when named.
TEST_F(RemovalBatchTest, LinesInOrderWithTheFolderAndTheWarningOnlyWhenAsked) {
  TempFolder temp;
  std::wstring folder = temp / L"Ombrix";
  std::wstring program = folder + L"\\uninstall.exe";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  WriteFileBytes(program, "exe");
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::string p = Ascii(program), d = Ascii(folder);
  std::string pause = "\"" + Ascii(system) + "\\ping.exe\" -n 2 127.0.0.1 >nul\r\n";
  std::string warning = "if exist \"" + p + "\" \"" + p + "\" /warning\r\n";

  for (bool elevated : {false, true}) {
    for (int c = 0; c < 3; c++) {
      bool withFolder = c < 2, warn = c == 0;
      SCOPED_TRACE(elevated * 3 + c);
      std::string expected = "set /p obx=\r\n";
      for (int i = 0; i < 5; i++)
        expected += "del \"" + p + "\"\r\n" + (withFolder ? "rd \"" + d + "\"\r\n" : "") +
                    "if not exist \"" + p + "\" goto done\r\n" + pause;
      expected += ":done\r\n";
      RemovalBatch& batch = Create(elevated);
      std::string last = "del \"" + Ascii(batch.path) + "\"\r\n";
      ASSERT_TRUE(WriteRemovalBatch(batch, program.c_str(), withFolder ? folder.c_str() : nullptr,
                                    warn));
      EXPECT_EQ(ReadFileBytes(batch.path), expected + (warn ? warning : "") + last);
    }
  }
}

TEST_F(RemovalBatchTest, DriveRootIsNamedByRdAndUnreachablePathsLeaveNoFile) {
  RemovalBatch& root = Create(false);
  ASSERT_TRUE(WriteRemovalBatch(root, L"C:\\uninstall.exe", L"C:\\", false));
  EXPECT_NE(ReadFileBytes(root.path).find("\r\nrd \"C:\\\"\r\n"), std::string::npos);

  for (bool elevated : {false, true}) {
    RemovalBatch& batch = Create(elevated);
    std::wstring path = batch.path;
    EXPECT_FALSE(WriteRemovalBatch(batch, L"C:\\\u0416\\uninstall.exe", L"C:\\\u0416", false));
    EXPECT_FALSE(batch.file);
    EXPECT_FALSE(Exists(path));
  }
}

namespace {

struct BatchRunCase {
  const wchar_t* temp;     // the user's temp folder, inside the sandbox
  const wchar_t* install;  // the installation folder, inside the sandbox
  bool elevated;
};

}  // namespace

// The batch run for real through cmd.exe, the program being a copy of uninstall.exe, with the
// characters the interpreter treats specially in the temp path (its former command line) and in
// the installation path (the batch's lines). Each run ends with the program, its folder and the
// batch gone, and nothing else run: "mkdir X" never makes a folder. "|" is no character of a
// Windows name: such a temp folder cannot even be made.
TEST(RemovalBatchRun, NoCharacterOfAPathBreaksTheBatchOrRunsAnythingElse) {
  TempFolder sandbox;
  EXPECT_FALSE(CreateDirectoryW((sandbox / L"a|mkdir X").c_str(), nullptr));
  const BatchRunCase cases[] = {
      {L"t&mkdir X&", L"Ombrix", false},
      {L"Ann (Work)", L"Ombrix (x86) & Co", false},
      {L"@echo ^& 100%OBXINJECT%", L"%OBXINJECT% ^&", false},
      {L"!OBXINJECT! x", L"@ Ombrix !OBXINJECT! & (1) ^ % |x", false},
      {L"t&mkdir X&", L"Ombrix & (1) @ ^ 100% !x!", true},
  };
  SetEnvironmentVariableW(L"OBXINJECT", L"x\" & mkdir X & \"");
  wchar_t current[kPathSize], savedTemp[kPathSize], savedTmp[kPathSize];
  GetCurrentDirectoryW(kPathSize, current);
  GetEnvironmentVariableW(L"TEMP", savedTemp, kPathSize);
  GetEnvironmentVariableW(L"TMP", savedTmp, kPathSize);
  for (const BatchRunCase& c : cases) {
    std::wstring install = c.install;
    if (install.find(L'|') != std::wstring::npos) install.erase(install.find(L'|'), 1);
    SCOPED_TRACE(std::wstring(c.temp) + L" / " + install);
    std::wstring temp = sandbox / c.temp, folder = sandbox / install;
    std::wstring program = folder + L"\\uninstall.exe";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr) || Exists(temp));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(BuildFolderFile(L"uninstall.exe").c_str(), program.c_str(), FALSE));
    // Where an injected "mkdir X" would land: the caller's folder or the interpreter's.
    ASSERT_TRUE(SetCurrentDirectoryW(sandbox.path().c_str()));
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetElevationOverride(&c.elevated);

    RemovalBatch batch;
    ASSERT_TRUE(CreateRemovalBatch(batch));
    std::wstring path = batch.path;
    // Started first and written then, as by the uninstallation.
    EXPECT_TRUE(StartRemovalBatch(batch));
    ASSERT_TRUE(WriteRemovalBatch(batch, program.c_str(), folder.c_str(), false));
    // Nothing goes while the process that wrote it runs, however long.
    if (&c == cases) {
      Sleep(3000);
      EXPECT_TRUE(Exists(program));
    }
    batch.file.reset();  // as at this process's end
    batch.endSignal.reset();
    SetElevationOverride(nullptr);
    SetEnvironmentVariableW(L"TEMP", savedTemp);
    SetEnvironmentVariableW(L"TMP", savedTmp);
    SetCurrentDirectoryW(current);

    EXPECT_TRUE(WaitUntilGone(folder, 20000));
    EXPECT_TRUE(WaitUntilGone(path, 10000));
    EXPECT_EQ(path.rfind(c.elevated ? SystemTempFolder() : temp, 0), 0u);
    Sleep(300);
    for (const std::wstring& place : {sandbox.path(), temp, SystemTempFolder()})
      EXPECT_FALSE(Exists(place + L"\\X")) << place;
    EXPECT_TRUE(Exists(temp));
  }
  SetEnvironmentVariableW(L"OBXINJECT", nullptr);
}

namespace {

// Settings in a scratch registry, the ini search pointed at an empty folder.
class ScratchSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetIniSearchPlaces((temp_ / L"uninstall.exe").c_str(), (temp_ / L"user").c_str());
  }

  ScratchRegistry registry_;
  TempFolder temp_;
};

using GetTempFolderTest = ScratchSettingsTest;

std::wstring DefaultValue(HKEY root, const wchar_t* subkey) {
  wchar_t text[512] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  RegGetValueW(root, subkey, nullptr, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

}  // namespace

TEST_F(GetTempFolderTest, SettingWithVariablesWinsOnlyWhileItExists) {
  wchar_t system[kPathSize];
  GetTempPathW(kPathSize, system);
  wchar_t out[kPathSize];
  GetTempFolder(out, kPathSize);
  EXPECT_STREQ(out, system);

  std::wstring mine = temp_ / L"mine";
  ASSERT_TRUE(CreateDirectoryW(mine.c_str(), nullptr));
  SetEnvironmentVariableW(L"OBXTESTTEMP", temp_.path().c_str());
  ASSERT_EQ(SetSettingString(L"Paths", L"TempFolder", L"%OBXTESTTEMP%\\mine"), 0u);
  GetTempFolder(out, kPathSize);
  EXPECT_EQ(std::wstring(out), mine + L"\\");

  RemoveDirectoryW(mine.c_str());
  GetTempFolder(out, kPathSize);
  EXPECT_STREQ(out, system);
  SetEnvironmentVariableW(L"OBXTESTTEMP", nullptr);
}

class RemoveIntegrationTest : public ScratchSettingsTest {
 protected:
  // What a setup with the .obx association leaves: its integration and the record.
  void ApplyObxWithRecord() {
    IntegrationOptions options = {};
    options.associate[kObxRow] = true;
    wchar_t group[kPathSize] = {};
    ASSERT_TRUE(ApplyIntegration(options, group, kPathSize));
    WriteUninstallRecord((temp_ / L"uninstall.exe").c_str());
  }
};

// The record stays for the uninstallation to delete last: till then it is what lets a run stopped
// after the list went finish without it.
TEST_F(RemoveIntegrationTest, TakesBackTypesSettingsAndAppPathsButNotYetTheRecord) {
  MachineStateLock lock;  // shortcuts are not redirected
  IntegrationOptions options = {};
  for (bool& associate : options.associate) associate = true;
  options.shellExt = true;
  wchar_t group[kPathSize] = {};
  ASSERT_TRUE(ApplyIntegration(options, group, kPathSize));
  WriteUninstallRecord((temp_ / L"uninstall.exe").c_str());
  SetSettingString(L"Paths", L"TempFolder", L"C:\\");
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  ASSERT_EQ(DefaultValue(HKEY_CLASSES_ROOT, L".zip"), L"Ombrix.ZIP");
  ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));

  unsigned notifications = AssociationNotificationCount();
  RemoveIntegration();
  EXPECT_EQ(AssociationNotificationCount() - notifications, 1u);
  for (const wchar_t* key : {L"Ombrix", L"Ombrix.ZIP", L"Ombrix.REV", L".rev"})
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_NE(DefaultValue(HKEY_CLASSES_ROOT, L".zip"), L"Ombrix.ZIP");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
}

TEST_F(RemoveIntegrationTest, MsiModeKeepsTheRecordAndAppPaths) {
  MachineStateLock lock;
  ASSERT_NO_FATAL_FAILURE(ApplyObxWithRecord());
  SetSettingString(L"Paths", L"TempFolder", L"C:\\");
  runState.msiMode = true;

  unsigned notifications = AssociationNotificationCount();
  RemoveIntegration();
  EXPECT_EQ(AssociationNotificationCount() - notifications, 1u);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix\\Paths"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
}

TEST_F(RemoveIntegrationTest, MsiModeRunTakesIntegrationButNoFileAndWritesNoBatch) {
  MachineStateLock lock;
  ASSERT_NO_FATAL_FAILURE(ApplyObxWithRecord());
  // RunUninstall works on the folder of the running program: this test's build folder.
  std::wstring probe = BuildFolderFile(UniqueName(L"msiprobe").c_str());
  std::wstring list = BuildFolderFile(L"Uninstall.lst");
  WriteFileBytes(probe, "x");
  WriteFileBytes(list, Ascii(probe.substr(probe.rfind(L'\\') + 1)) + "\r\n");
  wchar_t current[kPathSize];
  GetCurrentDirectoryW(kPathSize, current);
  runState.silent = true;
  runState.msiMode = true;

  RunUninstall();
  SetCurrentDirectoryW(current);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
  EXPECT_TRUE(Exists(probe));
  EXPECT_TRUE(Exists(list));
  EXPECT_FALSE(Exists(RemovalBatchFile()));
  EXPECT_FALSE(Exists(UserTempFolder() + L"\\Uninstall_Obx_*"));
  DeleteFileW(probe.c_str());
  DeleteFileW(list.c_str());
}

// Each denial on its own stops the uninstallation, except those of what an MSI package keeps;
// asking leaves everything as it was.
TEST_F(RemoveIntegrationTest, RightsAreAskedForTheRecordTheClassKeyAndTheFolder) {
  MachineStateLock lock;
  ASSERT_NO_FATAL_FAILURE(ApplyObxWithRecord());
  std::wstring folder = temp_ / L"Ombrix";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  struct Case {
    const char* denied;
    HKEY root;  // whose writes are refused; null for none
    bool folder, msi, granted;
  };
  const Case cases[] = {
      {"nothing", nullptr, false, false, true},
      {"the record's root", HKEY_LOCAL_MACHINE, false, false, false},
      {"the classes", HKEY_CLASSES_ROOT, false, false, false},
      {"the folder", nullptr, true, false, false},
      {"the record's root, MSI package", HKEY_LOCAL_MACHINE, false, true, true},
      {"the classes, MSI package", HKEY_CLASSES_ROOT, false, true, false},
      {"the folder, MSI package", nullptr, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.denied);
    runState.msiMode = c.msi;
    if (c.root) DenyRegistryWrites(c.root, L"");
    SetFolderAccessDeniedOverride(c.folder ? folder.c_str() : nullptr);
    EXPECT_EQ(HasUninstallRights(folder.c_str()), c.granted);
    AllowRegistryWrites();
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(Exists(folder));
}
