// Single-object file functions: existence, attributes, deletion, free space, creating a file
// without writing through a link, and the retry in the "\\?\" form beyond the plain path limit.
#include "filesystem/fileops.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/owners.h"
#include "base/text.h"
#include "filesystem/file.h"
#include "filesystem/findfile.h"
#include "filesystem/path.h"
#include "shelltest.h"
#include "testenv.h"

TEST(FileOps, FoldersAndHiddenSystemFilesExist) {
  TempFolder temp;
  std::wstring folder = temp / L"sub";
  std::wstring hidden = temp / L"hidden.sys";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  WriteFileBytes(hidden, "x");
  ASSERT_TRUE(SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  EXPECT_TRUE(FileExist(folder.c_str()));
  EXPECT_TRUE(IsDir(GetFileAttr(folder.c_str())));
  EXPECT_TRUE(FileExist(hidden.c_str()));
  unsigned attr = GetFileAttr(hidden.c_str());
  EXPECT_TRUE(attr & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(attr & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_FALSE(IsDir(attr));
  SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FileOps, MissingObjectReportsTheLastCallsError) {
  TempFolder temp;
  std::wstring missing = temp / L"missing.txt";
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetFileAttr(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(FileExist(missing.c_str()));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DelFile(missing.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // Nothing to retry with: the first call's error stands.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetFileAttr(L""), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetLastError(), 0xdeadbeef);
}

TEST(FileOps, AttributeWordTests) {
  EXPECT_FALSE(IsDir(INVALID_FILE_ATTRIBUTES));  // although every bit, the directory bit too, is set
  EXPECT_TRUE(IsDir(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(IsDir(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(IsDir(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(IsLink(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(IsLink(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(IsLink(INVALID_FILE_ATTRIBUTES));
}

TEST(FileOps, DelFileRemovesAFileButNotAFolder) {
  TempFolder temp;
  std::wstring file = temp / L"doomed.txt";
  WriteFileBytes(file, "x");
  EXPECT_TRUE(DelFile(file.c_str()));
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(DelFile(file.c_str()));

  std::wstring folder = temp / L"folder";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_FALSE(DelFile(folder.c_str()));
  EXPECT_TRUE(FileExist(folder.c_str()));
}

// The plain call drops a trailing dot and misses the file; the retry with the current folder's
// long form reaches it.
TEST(FileOps, RelativeNameIsRetriedInTheCurrentFolder) {
  TempFolder temp;
  std::wstring longName = L"\\\\?\\" + (temp / L"dotted.");
  HANDLE h = CreateFileW(longName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  wchar_t saved[kPathSize];
  GetCurrentDirectoryW(kPathSize, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(temp.path().c_str()));
  ASSERT_EQ(GetFileAttributesW(L"dotted."), INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(FileExist(L"dotted."));
  EXPECT_TRUE(DelFile(L"dotted."));
  SetCurrentDirectoryW(saved);
  EXPECT_EQ(GetFileAttributesW(longName.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FileOps, FreeDiskOfABareNameAsksAboutTheCurrentDrive) {
  TempFolder temp;
  wchar_t saved[kPathSize];
  GetCurrentDirectoryW(kPathSize, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(temp.path().c_str()));
  ULARGE_INTEGER available, total, totalFree;
  ASSERT_TRUE(GetDiskFreeSpaceExW(nullptr, &available, &total, &totalFree));

  uint64_t bare = GetFreeDisk(L"file.txt");
  uint64_t inFolder = GetFreeDisk((temp / L"file.txt").c_str());
  SetCurrentDirectoryW(saved);

  // Other processes write meanwhile, so allow some drift.
  const uint64_t drift = 256ull << 20;
  EXPECT_GT(bare, 0u);
  EXPECT_LT(bare > available.QuadPart ? bare - available.QuadPart : available.QuadPart - bare,
            drift);
  EXPECT_LT(bare > inFolder ? bare - inFolder : inFolder - bare, drift);
  EXPECT_EQ(GetFreeDisk(L"Q:\\nowhere\\file.txt"), 0u);
}

namespace {

enum class Standing { kNothing, kFile, kFileLink, kDanglingLink, kFolderLink, kFolder };

struct StandingCase {
  Standing standing;
  bool created;   // by CreateNewFile, which takes only a free name
  bool replaced;  // by WriteNewFile, which replaces a file or a link to one
};

}  // namespace

// Neither call writes through a link standing at the name: the canaries outside keep their bytes,
// the dangling link's target is not made, and no temporary file stays behind.
TEST(CreateNewFile, NeitherCallWritesThroughWhatStandsAtTheName) {
  const StandingCase cases[] = {
      {Standing::kNothing, true, true},       {Standing::kFile, false, true},
      {Standing::kFileLink, false, true},     {Standing::kDanglingLink, false, true},
      {Standing::kFolderLink, false, false},  {Standing::kFolder, false, false}};
  for (const StandingCase& c : cases) {
    for (bool replacing : {false, true}) {
      SCOPED_TRACE(static_cast<int>(c.standing) * 2 + replacing);
      TempFolder temp;
      std::wstring canary = temp / L"canary.txt", canaryFolder = temp / L"canarydir";
      std::wstring missing = temp / L"missing.txt", name = temp / L"new.dat";
      WriteFileBytes(canary, "canary");
      ASSERT_TRUE(CreateDirectoryW(canaryFolder.c_str(), nullptr));
      WriteFileBytes(canaryFolder + L"\\inside.txt", "inside");
      switch (c.standing) {
        case Standing::kNothing: break;
        case Standing::kFile: WriteFileBytes(name, "old content"); break;
        case Standing::kFileLink: ASSERT_TRUE(MakeFileLink(name, canary)); break;
        case Standing::kDanglingLink:
          WriteFileBytes(missing, "");
          ASSERT_TRUE(MakeFileLink(name, missing));
          ASSERT_TRUE(DeleteFileW(missing.c_str()));
          break;
        case Standing::kFolderLink: ASSERT_TRUE(MakeDirectoryLink(name, canaryFolder)); break;
        case Standing::kFolder: ASSERT_TRUE(CreateDirectoryW(name.c_str(), nullptr)); break;
      }

      bool done;
      if (replacing) {
        done = WriteNewFile(name.c_str(), "new", 3);
        EXPECT_EQ(done, c.replaced);
      } else {
        ScopedHandle file(CreateNewFile(name.c_str(), GENERIC_WRITE, 0, nullptr));
        done = static_cast<bool>(file);
        EXPECT_EQ(done, c.created);
        DWORD written = 0;
        if (file) {
          EXPECT_TRUE(WriteFile(file.get(), "new", 3, &written, nullptr));
        }
      }

      if (done) {
        EXPECT_EQ(ReadFileBytes(name), "new");
      }
      EXPECT_EQ(ReadFileBytes(canary), "canary");
      EXPECT_EQ(ReadFileBytes(canaryFolder + L"\\inside.txt"), "inside");
      EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
      for (const std::wstring& file : ListFiles(temp.path()))
        EXPECT_EQ(file.find(L".tmp"), std::wstring::npos) << file;
    }
  }
}

TEST(CreateRandomFile, MakesANewFileUnderEachFreshName) {
  TempFolder temp;
  std::wstring prefix = temp / L"Uninstall_";
  wchar_t names[2][kPathSize];
  for (wchar_t* name : names) {
    ScopedHandle file(CreateRandomFile(prefix.c_str(), L".Bat", GENERIC_WRITE, 0, nullptr, name));
    ASSERT_TRUE(file);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file.get(), "x", 1, &written, nullptr));
  }
  EXPECT_NE(std::wstring(names[0]), std::wstring(names[1]));
  for (const wchar_t* name : names) {
    EXPECT_EQ(std::wstring(name).rfind(prefix, 0), 0u) << name;
    EXPECT_EQ(TextLength(name), prefix.size() + kRandomDigits + 4) << name;
    EXPECT_EQ(ReadFileBytes(name), "x");
  }
}

// Under Wine every access is granted, so the denial comes from the override; a real failure
// (a missing folder) is reported as what it is, not as missing rights.
TEST(FileOps, FolderChangeAccessIsAskedWithoutChangingTheFolder) {
  TempFolder temp;
  std::wstring folder = temp / L"Ombrix";
  std::wstring other = temp / L"Other";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
  WriteFileBytes(folder + L"\\file.txt", "x");
  EXPECT_EQ(CheckFolderChangeAccess(folder.c_str()), 0u);
  // Wine holds a process's current folder against deletion (a sharing violation), which is
  // no missing right.
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  EXPECT_NE(CheckFolderChangeAccess(folder.c_str()), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
  SetCurrentDirectoryW(previous);
  unsigned long missing = CheckFolderChangeAccess((temp / L"missing").c_str());
  EXPECT_TRUE(missing == ERROR_FILE_NOT_FOUND || missing == ERROR_PATH_NOT_FOUND) << missing;

  SetFolderAccessDeniedOverride(folder.c_str());
  std::wstring upper = folder;
  CharUpperW(&upper[0]);
  EXPECT_EQ(CheckFolderChangeAccess(upper.c_str()), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CheckFolderChangeAccess(other.c_str()), 0u);
  SetFolderAccessDeniedOverride(nullptr);
  EXPECT_EQ(CheckFolderChangeAccess(folder.c_str()), 0u);
  EXPECT_EQ(ReadFileBytes(folder + L"\\file.txt"), "x");
}

// One file beyond the plain path limit, taken through its whole life by the program's own calls.
// Wine accepts plain names far beyond MAX_PATH (a 341-character plain path was created, listed
// and deleted), so length alone would not make the plain call fail there. The deepest folder's
// name therefore ends in a dot: the plain form drops it on Windows and Wine alike, while the
// "\\?\" form keeps it. Every success below can only have come from the retry.
TEST(LongPathRetry, FileIsCreatedReadListedAndDeleted) {
  TempFolder temp;
  std::wstring folder = temp.path();
  for (wchar_t c = L'a'; c <= L'd'; c++) {
    folder += L"\\" + std::wstring(60, c);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  }
  folder += L"\\dotted.";
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
  std::wstring path = folder + L"\\data.txt";
  std::wstring longPath = L"\\\\?\\" + path;
  ASSERT_GT(path.size(), static_cast<size_t>(MAX_PATH));
  ASSERT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);

  {
    File file;
    ASSERT_TRUE(file.Create(path.c_str(), 0));
    ASSERT_TRUE(file.Write("far away", 8));
    ASSERT_TRUE(file.Close());
  }
  EXPECT_EQ(ReadFileBytes(longPath), "far away");

  EXPECT_TRUE(FileExist(path.c_str()));
  EXPECT_FALSE(IsDir(GetFileAttr(path.c_str())));
  EXPECT_GT(GetFreeDisk(path.c_str()), 0u);

  {
    File file;
    ASSERT_TRUE(file.Open(path.c_str(), 0));
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 8);
    EXPECT_STREQ(buffer, "far away");
  }

  FindFile find;
  find.SetMask((folder + L"\\*").c_str());
  FindData data;
  ASSERT_TRUE(find.Next(data));
  EXPECT_EQ(std::wstring(data.name), path);
  EXPECT_EQ(data.size, 8u);
  EXPECT_FALSE(find.Next(data));
  EXPECT_FALSE(data.error);
  find.Close();
  ASSERT_TRUE(FindFile::FastFind(path.c_str(), data));
  EXPECT_EQ(data.size, 8u);

  EXPECT_TRUE(DelFile(path.c_str()));
  EXPECT_EQ(GetFileAttributesW(longPath.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(FileExist(path.c_str()));
}
