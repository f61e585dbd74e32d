// One file beyond the plain path limit, taken through its whole life by the program's own calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "filesystem/file.h"
#include "filesystem/fileops.h"
#include "filesystem/findfile.h"
#include "testenv.h"

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
