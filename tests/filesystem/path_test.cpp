// Splitting, joining and the "\\?\" form of paths, the product's per-user data folder, and loading
// a system module from the system folder only.
#include "filesystem/path.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cwchar>
#include <string>

#include "base/owners.h"
#include "bitness.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

std::wstring Removed(const wchar_t* path) {
  wchar_t buffer[kPathSize];
  wcscpy(buffer, path);
  RemoveNameFromPath(buffer);
  return buffer;
}

std::wstring Joined(const wchar_t* folder, const wchar_t* name, unsigned size = kPathSize) {
  wchar_t out[kPathSize];
  wmemset(out, L'#', kPathSize);
  MakeName(folder, name, out, size);
  return out;
}

std::wstring LongForm(const wchar_t* path, unsigned size = kPathSize) {
  wchar_t out[kPathSize] = L"untouched";
  return MakeLongPath(path, out, size) ? std::wstring(out) : L"<false>";
}

// The current folder for one test, restored afterwards.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::wstring& path) {
    GetCurrentDirectoryW(kPathSize, saved_);
    EXPECT_TRUE(SetCurrentDirectoryW(path.c_str()));
  }
  ~CurrentFolder() { SetCurrentDirectoryW(saved_); }

 private:
  wchar_t saved_[kPathSize];
};

}  // namespace

TEST(PathParts, FullPathsAndWildcards) {
  EXPECT_TRUE(IsFullPath(L"c:/a"));
  EXPECT_TRUE(IsFullPath(L"\\\\srv\\share"));
  EXPECT_FALSE(IsFullPath(L"C:a"));
  EXPECT_FALSE(IsFullPath(L"\\a"));
  EXPECT_FALSE(IsDriveLetter(L"1:\\x"));

  EXPECT_FALSE(HasWildcards(L"\\\\?\\C:\\a"));
  EXPECT_TRUE(HasWildcards(L"\\\\?\\C:\\a?"));
  EXPECT_TRUE(HasWildcards(L"C:\\a*"));
  EXPECT_STREQ(SkipLongPrefix(L"\\\\?\\UNC\\s\\x"), L"UNC\\s\\x");
  EXPECT_STREQ(SkipLongPrefix(L"\\\\.\\C:"), L"\\\\.\\C:");
}

TEST(PathParts, RandomNameIsPrefixDigitsAndSuffixOrNothing) {
  wchar_t first[32], second[32];
  // 2 + 16 + 2 characters and the terminator: exactly the room given.
  ASSERT_TRUE(MakeRandomName(L"ab", L".x", first, 21));
  ASSERT_TRUE(MakeRandomName(L"ab", L".x", second, 21));
  std::wstring name = first;
  EXPECT_EQ(name.size(), 20u);
  EXPECT_EQ(name.substr(0, 2), L"ab");
  EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 2), 18u);
  EXPECT_EQ(name.substr(18), L".x");
  EXPECT_NE(name, second);
  EXPECT_FALSE(MakeRandomName(L"ab", L".x", first, 20));
}

TEST(PathParts, NameAndLastCharacter) {
  const wchar_t* drive = L"C:b.txt";
  EXPECT_EQ(PointToName(drive), drive + 2);
  const wchar_t* mixed = L"x\\a/b";
  EXPECT_EQ(PointToName(mixed), mixed + 4);
  const wchar_t* empty = L"";
  EXPECT_EQ(PointToLastChar(empty), empty);
}

TEST(PathParts, RemoveNameKeepsOnlyTheRootSeparator) {
  EXPECT_EQ(Removed(L"C:\\a\\b.txt"), L"C:\\a");
  EXPECT_EQ(Removed(L"C:\\b.txt"), L"C:\\");
  EXPECT_EQ(Removed(L"b.txt"), L"");
  EXPECT_EQ(Removed(L"\\b.txt"), L"\\");
  EXPECT_EQ(Removed(L"C:b.txt"), L"C:");
  EXPECT_EQ(Removed(L"a/b/c"), L"a/b");
}

TEST(PathParts, AddEndSlashOnlyWhenItFits) {
  wchar_t path[8] = L"a/";
  AddEndSlash(path, 8);
  EXPECT_STREQ(path, L"a/\\");
  AddEndSlash(path, 8);
  EXPECT_STREQ(path, L"a/\\");
  wchar_t empty[4] = L"";
  AddEndSlash(empty, 4);
  EXPECT_STREQ(empty, L"");
  // "abc" plus "\" and the terminator needs 5; the sentinel after the buffer stays.
  wchar_t full[6] = {L'a', L'b', L'c', 0, L'#', L'#'};
  AddEndSlash(full, 4);
  EXPECT_STREQ(full, L"abc");
  EXPECT_EQ(full[4], L'#');
  AddEndSlash(full, 5);
  EXPECT_STREQ(full, L"abc\\");
}

TEST(PathParts, SetNameAndGetFilePathCutToTheBuffer) {
  wchar_t path[16] = L"C:\\a\\old.txt";
  SetName(path, L"new", 16);
  EXPECT_STREQ(path, L"C:\\a\\new");
  SetName(path, L"very-long-name.txt", 16);
  EXPECT_STREQ(path, L"C:\\a\\very-long-");
  // A name taken from the path itself.
  wchar_t self[32] = L"dir\\sub\\file";
  SetName(self, self + 4, 32);
  EXPECT_STREQ(self, L"dir\\sub\\sub\\file");

  wchar_t folder[kPathSize];
  GetFilePath(L"C:\\a\\b.txt", folder, kPathSize);
  EXPECT_STREQ(folder, L"C:\\a\\");
  GetFilePath(L"b.txt", folder, kPathSize);
  EXPECT_STREQ(folder, L"");
  wchar_t small[4] = {L'#', L'#', L'#', L'#'};
  GetFilePath(L"C:\\a\\b.txt", small, 3);
  EXPECT_STREQ(small, L"C:");
  EXPECT_EQ(small[3], L'#');
}

TEST(PathParts, MakeNameJoinsWithOneBackslash) {
  EXPECT_EQ(Joined(L"C:", L"x"), L"C:x");
  EXPECT_EQ(Joined(L"C:\\dir", L"x"), L"C:\\dir\\x");
  EXPECT_EQ(Joined(L"C:\\dir\\", L"x"), L"C:\\dir\\x");
  EXPECT_EQ(Joined(L"", L"x"), L"x");
  EXPECT_EQ(Joined(L"C:\\dir", L"x", 6), L"C:\\di");

  // Into the folder's own buffer.
  wchar_t same[kPathSize] = L"C:\\dir";
  MakeName(same, L"file", same, kPathSize);
  EXPECT_STREQ(same, L"C:\\dir\\file");
}

TEST(LongPath, FullAndNetworkPaths) {
  EXPECT_EQ(LongForm(L"C:\\a\\f"), L"\\\\?\\C:\\a\\f");
  EXPECT_EQ(LongForm(L"\\\\srv\\share\\f"), L"\\\\?\\UNC\\srv\\share\\f");
  EXPECT_EQ(LongForm(L""), L"<false>");

  // "C:\a" (4) needs room for 8 characters and the terminator.
  EXPECT_EQ(LongForm(L"C:\\a", 9), L"\\\\?\\C:\\a");
  EXPECT_EQ(LongForm(L"C:\\a", 8), L"<false>");
  // "\\s\h" (5) becomes "\\?\UNC\s\h" (11).
  EXPECT_EQ(LongForm(L"\\\\s\\h", 12), L"\\\\?\\UNC\\s\\h");
  EXPECT_EQ(LongForm(L"\\\\s\\h", 11), L"<false>");
}

TEST(LongPath, RelativePathsUseTheCurrentFolder) {
  TempFolder temp;
  CurrentFolder current(temp.path());
  std::wstring prefix = L"\\\\?\\" + temp.path();

  EXPECT_EQ(LongForm(L".\\f"), prefix + L"\\f");
  EXPECT_EQ(LongForm(L"./f"), prefix + L"\\f");
  EXPECT_EQ(LongForm(L"f"), prefix + L"\\f");
  // Only a leading "." part is dropped; the rest is passed on as written.
  EXPECT_EQ(LongForm(L"..\\f"), prefix + L"\\..\\f");
  EXPECT_EQ(LongForm(L"\\f"), L"\\\\?\\" + temp.path().substr(0, 2) + L"\\f");

  unsigned needed = static_cast<unsigned>(prefix.size() + 2);  // "\f" and the terminator
  EXPECT_EQ(LongForm(L"f", needed + 1), prefix + L"\\f");
  EXPECT_EQ(LongForm(L"f", needed), L"<false>");
}

TEST(LongPath, RootOfTheCurrentDrive) {
  CurrentFolder current(L"C:\\windows");
  EXPECT_EQ(LongForm(L"\\f"), L"\\\\?\\C:\\f");
  EXPECT_EQ(LongForm(L".\\f"), L"\\\\?\\C:\\windows\\f");
}

// Converting these would name something else: a long name twice prefixed, or a stream of a file
// called "C" in the current folder.
TEST(LongPath, RefusesNamesItCannotExpress) {
  EXPECT_EQ(LongForm(L"\\\\?\\C:\\a"), L"<false>");
  EXPECT_EQ(LongForm(L"\\\\.\\pipe\\x"), L"<false>");
  EXPECT_EQ(LongForm(L"C:x"), L"<false>");
}

TEST(SpecialFolder, NeedsRoomForAFullPathAndNamesAnUnknownFolderOnFailure) {
  wchar_t path[2048];
  EXPECT_TRUE(GetSpecialFolder(path, 260, CSIDL_PROGRAMS));
  EXPECT_NE(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);

  EXPECT_FALSE(GetSpecialFolder(path, 259, CSIDL_PROGRAMS));
  EXPECT_EQ(std::wstring(path), L"unknown_folder");
  wmemset(path, L'#', 16);
  EXPECT_FALSE(GetSpecialFolder(path, 8, CSIDL_PROGRAMS));
  EXPECT_EQ(std::wstring(path), L"unknown");
  EXPECT_EQ(path[8], L'#');
  EXPECT_FALSE(GetSpecialFolder(path, 2048, 0x7F));  // no such folder
  EXPECT_EQ(std::wstring(path), L"unknown_folder");
}

TEST(AppDataFolder, IsTheShellFolderWithOmbrixAndIsNeverCreated) {
  wchar_t shell[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shell), S_OK);
  std::wstring expected = std::wstring(shell) + L"\\Ombrix";
  RemoveTree(expected);

  wchar_t out[kPathSize];
  EXPECT_FALSE(GetAppDataFolder(out, kPathSize));
  EXPECT_EQ(std::wstring(out), expected);
  EXPECT_EQ(GetFileAttributesW(expected.c_str()), INVALID_FILE_ATTRIBUTES);

  ASSERT_TRUE(CreateDirectoryW(expected.c_str(), nullptr));
  EXPECT_TRUE(GetAppDataFolder(out, kPathSize));
  EXPECT_EQ(std::wstring(out), expected);

  wchar_t small[8];
  GetAppDataFolder(small, 8);
  EXPECT_EQ(std::wstring(small), expected.substr(0, 7));
  RemoveTree(expected);
}

// A program path that does not fit names another file: refused, never cut.
TEST(PathParts, ProgramFileAndFolderFileRefuseWhatDoesNotFit) {
  wchar_t self[kPathSize];
  ASSERT_TRUE(GetProgramFile(self, kPathSize));
  wchar_t expected[kPathSize];
  GetModuleFileNameW(nullptr, expected, kPathSize);
  EXPECT_STREQ(self, expected);
  unsigned length = static_cast<unsigned>(wcslen(self));
  wchar_t cut[kPathSize] = L"x";
  EXPECT_FALSE(GetProgramFile(cut, length));
  EXPECT_STREQ(cut, L"");

  wchar_t beside[kPathSize];
  ASSERT_TRUE(GetProgramFolderFile(L"obxnew.dat", beside, kPathSize));
  std::wstring folder(self, PointToName(self));
  EXPECT_EQ(std::wstring(beside), folder + L"obxnew.dat");
  unsigned fits = static_cast<unsigned>(folder.size() + wcslen(L"obxnew.dat") + 1);
  EXPECT_TRUE(GetProgramFolderFile(L"obxnew.dat", beside, fits));
  EXPECT_FALSE(GetProgramFolderFile(L"obxnew.dat", beside, fits - 1));
  EXPECT_STREQ(beside, L"");
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
