// The self-removal batch: its paths and lines in the interpreter's code page, its place, security
// and sharing, and its run through the interpreter.
#include "driver/selfremoval.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <cwctype>
#include <list>
#include <set>
#include <string>

#include "base/owners.h"
#include "filesystem/secure.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

std::string InOemCodePage(const std::wstring& text) {
  char bytes[4096] = {};
  WideCharToMultiByte(CP_OEMCP, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
  return bytes;
}

}  // namespace

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
