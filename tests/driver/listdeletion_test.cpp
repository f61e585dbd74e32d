// The deletion passes over a list in a temp folder: the order of files and folders, links, the
// entries they refuse, files in use, and damaged lists.
#include "driver/listdeletion.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/owners.h"
#include "guarded.h"
#include "machine.h"
#include "sandbox_fixture.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

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

// Seeded mutation of "Uninstall.lst", which anyone can hand the program: its damaged forms drive
// the real deletion passes over the sandbox, whose canaries must never lose anything, not even
// through the planted links.
namespace {

class ListMutator {
 public:
  static constexpr const char* kClimbing[] = {"..\\", "../", ".. \\", ". \\", "\\..",
                                              "...", ".\\", "..", "\\\\"};
  explicit ListMutator(unsigned seed) : random_(seed) {}
  unsigned Below(size_t n) { return n == 0 ? 0 : static_cast<unsigned>(random_() % n); }

  char Byte() {
    static const char kInteresting[] = ".\\/: \t\r\n?*\"<>|~$%aA";
    if (Below(3) == 0) return static_cast<char>(Below(256));  // zero and high bytes too
    return kInteresting[Below(sizeof kInteresting - 1)];
  }

  std::string Damage(std::string bytes, const std::vector<std::string>& hostile) {
    for (unsigned s = 0, steps = 1 + Below(5); s < steps; s++) {
      size_t at = Below(bytes.size() + 1);
      switch (Below(9)) {
        case 0:
          bytes.resize(at);
          break;
        case 1:  // replaced bytes
          for (unsigned k = 0, n = 1 + Below(12); k < n && !bytes.empty(); k++)
            bytes[Below(bytes.size())] = Byte();
          break;
        case 2:  // inserted bytes
          for (unsigned k = 0, n = 1 + Below(6); k < n; k++) bytes.insert(at, 1, Byte());
          break;
        case 3:  // climbing components, with or without separators around them
          for (unsigned k = 0, n = 1 + Below(4); k < n; k++)
            bytes.insert(at, kClimbing[Below(sizeof kClimbing / sizeof kClimbing[0])]);
          break;
        case 4:  // a giant line, around the reader's 2047-byte pieces
          bytes.insert(at, std::string(1 + (Below(2) ? Below(5000) : 2030 + Below(40)),
                                       ".\\a x\r"[Below(6)]));
          break;
        case 5:  // line ends lost or doubled
          for (char& ch : bytes)
            if ((ch == '\n' || ch == '\r') && Below(3) == 0) ch = Below(2) ? ' ' : '\r';
          break;
        case 6:  // a hostile line spliced in anywhere
          bytes.insert(at, hostile[Below(hostile.size())] + (Below(2) ? "\r\n" : ""));
          break;
        case 7:  // case changed
          for (char& ch : bytes)
            if (Below(4) == 0 && ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'))) ch ^= 32;
          break;
        default:  // duplicated piece
          if (!bytes.empty()) bytes.insert(at, bytes.substr(Below(bytes.size()), Below(300)));
          break;
      }
    }
    return bytes;
  }

 private:
  std::mt19937 random_;
};

TEST_F(ListHardening, UndamagedListEmptiesTheInstallationAndHostileOneTouchesNothing) {
  DeletionResult clean = Run(corpus_[0]);
  EXPECT_EQ(InstallationLeft(), 1u);  // the folder itself is the batch file's
  EXPECT_EQ(clean.removed, std::size(kInstallation) - 1);
  EXPECT_FALSE(clean.scheduled);
  ExpectCanariesIntact();
  Restore();
  DeletionResult hostile = Run(corpus_[1]);
  // At most the two links in the installation, themselves (Wine cannot remove them).
  EXPECT_EQ(hostile.removed, std::size(kLinks) - LinksLeft());
  EXPECT_GE(LinksLeft(), std::size(kLinks) - 2);
  EXPECT_EQ(InstallationLeft(), std::size(kInstallation));
  ExpectCanariesIntact();
}

TEST_F(ListHardening, DamagedListsDeleteOnlyInsideTheInstallationAndAlwaysEnd) {
  FaultGuard guard;
  size_t pendingBefore = ReadPendingRenames().size();
  std::wstring inside = temp_ / L"Ombrix\\";
  ListMutator mutator(20261209);
  unsigned deleting = 0;
  const unsigned kRounds = 2000;
  for (unsigned round = 0; round < kRounds; round++) {
    std::string list = mutator.Damage(corpus_[round % corpus_.size()], hostileLines_);
    SCOPED_TRACE(testing::Message() << "round " << round << ", " << list.size() << " bytes");
    DeletionResult result = Run(list);
    ASSERT_LE(result.removed, std::size(kInstallation) + std::size(kLinks));
    ExpectCanariesIntact();
    if (HasFatalFailure()) {
      ADD_FAILURE() << "list was:\n" << list;
      return;
    }
    if (result.removed > 0) deleting++;
    Restore();
    if (HasFatalFailure()) return;
  }
  // Whatever could not be deleted was scheduled for restart only inside the installation.
  std::vector<PendingRename> pending = ReadPendingRenames();
  for (size_t i = pendingBefore; i < pending.size(); i++) {
    const std::wstring& source = pending[i].source;
    if (CompareStringOrdinal(source.c_str(), static_cast<int>(temp_.path().size()),
                             temp_.path().c_str(), -1, TRUE) != CSTR_EQUAL)
      continue;  // another test's
    EXPECT_EQ(CompareStringOrdinal(source.c_str(), static_cast<int>(inside.size()),
                                   inside.c_str(), -1, TRUE),
              CSTR_EQUAL)
        << Narrow(source);
  }
  // The damaged lists still named real entries often enough for the passes to act.
  EXPECT_GT(deleting, kRounds / 4);
}

}  // namespace
