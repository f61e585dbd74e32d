// Listing a folder by mask and looking up single objects.
#include "filesystem/findfile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "testenv.h"

namespace {

std::set<std::wstring> ListAll(FindFile& find, bool& error) {
  std::set<std::wstring> names;
  FindData data;
  while (find.Next(data)) names.insert(data.name);
  error = data.error;
  return names;
}

uint64_t Raw(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

TEST(FindFile, MaskYieldsEachFileOnceAndNoDotEntries) {
  TempFolder temp;
  WriteFileBytes(temp / L"a", "1");
  WriteFileBytes(temp / L"b", "22");
  FindFile find;
  std::wstring mask = temp / L"*";
  find.SetMask(mask.c_str());

  bool error = true;
  std::set<std::wstring> names = ListAll(find, error);
  EXPECT_EQ(names, (std::set<std::wstring>{temp / L"a", temp / L"b"}));
  EXPECT_FALSE(error);
  FindData data;
  EXPECT_FALSE(find.Next(data));
  EXPECT_FALSE(data.error);
}

TEST(FindFile, WildcardMaskSelectsAndRecordIsFilled) {
  TempFolder temp;
  WriteFileBytes(temp / L"one.txt", "12345");
  WriteFileBytes(temp / L"two.dat", "x");
  FindFile find;
  find.SetMask((temp / L"*.txt").c_str());
  FindData data;
  ASSERT_TRUE(find.Next(data));
  EXPECT_EQ(std::wstring(data.name), temp / L"one.txt");
  EXPECT_EQ(data.size, 5u);
  EXPECT_FALSE(data.isDir);
  EXPECT_GT(Raw(data.lastWriteTime), 0u);
  EXPECT_EQ(data.mtime, Raw(data.lastWriteTime) * 100);
  EXPECT_EQ(data.ctime, Raw(data.creationTime) * 100);
  EXPECT_EQ(data.atime, Raw(data.lastAccessTime) * 100);
  EXPECT_FALSE(find.Next(data));
}

TEST(FindFile, MissingFolderOrEmptyMaskIsNoError) {
  TempFolder temp;
  FindFile find;
  FindData data;
  for (std::wstring mask : {temp / L"absent\\*", temp / L"nothing*", std::wstring()}) {
    data.error = true;
    find.SetMask(mask.c_str());
    EXPECT_FALSE(find.Next(data));
    EXPECT_FALSE(data.error);
  }
}

TEST(FindFile, FoundNameKeepsTheMasksFolderAsWritten) {
  TempFolder temp;
  ASSERT_TRUE(CreateDirectoryW((temp / L"sub").c_str(), nullptr));
  WriteFileBytes(temp / L"sub\\f", "x");
  std::wstring folder = temp.path() + L"/sub\\..\\sub/";
  FindFile find;
  find.SetMask((folder + L"*").c_str());
  FindData data;
  ASSERT_TRUE(find.Next(data));
  EXPECT_EQ(std::wstring(data.name), folder + L"f");
  EXPECT_FALSE(find.Next(data));
}

TEST(FindFile, NewMaskStartsANewScan) {
  TempFolder temp;
  ASSERT_TRUE(CreateDirectoryW((temp / L"x").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((temp / L"y").c_str(), nullptr));
  WriteFileBytes(temp / L"x\\1", "");
  WriteFileBytes(temp / L"x\\2", "");
  WriteFileBytes(temp / L"y\\3", "");
  FindFile find;
  FindData data;
  find.SetMask((temp / L"x\\*").c_str());
  ASSERT_TRUE(find.Next(data));

  find.SetMask((temp / L"y\\*").c_str());
  bool error = true;
  EXPECT_EQ(ListAll(find, error), (std::set<std::wstring>{temp / L"y\\3"}));
  EXPECT_FALSE(error);
}

TEST(FindFile, FastFindLooksUpOneObject) {
  TempFolder temp;
  ASSERT_TRUE(CreateDirectoryW((temp / L"folder").c_str(), nullptr));
  WriteFileBytes(temp / L"ab", "xyz");
  FindData data;

  ASSERT_TRUE(FindFile::FastFind((temp / L"folder").c_str(), data));
  EXPECT_TRUE(data.isDir);
  EXPECT_EQ(std::wstring(data.name), temp / L"folder");

  ASSERT_TRUE(FindFile::FastFind((temp / L"ab").c_str(), data));
  EXPECT_FALSE(data.isDir);
  EXPECT_EQ(data.size, 3u);

  data.error = true;
  EXPECT_FALSE(FindFile::FastFind((temp / L"missing").c_str(), data));
  EXPECT_FALSE(data.error);

  // A search would match "ab"; a name with wildcards is refused before any search.
  WIN32_FIND_DATAW raw;
  HANDLE search = FindFirstFileW((temp / L"a?").c_str(), &raw);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  FindClose(search);
  EXPECT_FALSE(FindFile::FastFind((temp / L"a?").c_str(), data));
  EXPECT_FALSE(FindFile::FastFind((temp / L"*").c_str(), data));
}
