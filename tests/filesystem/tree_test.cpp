// Deleting a folder tree while others may exchange parts of it for links.
#include "filesystem/tree.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "shelltest.h"
#include "testenv.h"

namespace {

class FolderTree : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryW(outside_.c_str(), nullptr));
    WriteFileBytes(outside_ + L"\\keep.txt", "keep");
    ASSERT_TRUE(CreateDirectoryW(tree_.c_str(), nullptr));
  }
  TempFolder temp_;
  std::wstring outside_ = temp_ / L"outside";
  std::wstring tree_ = temp_ / L"tree";
};

TEST_F(FolderTree, RemovesNestedFoldersAndReadOnlyFiles) {
  ASSERT_TRUE(CreateDirectoryW((tree_ + L"\\a b").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((tree_ + L"\\a b\\c").c_str(), nullptr));
  WriteFileBytes(tree_ + L"\\a b\\c\\f.txt", "f");
  WriteFileBytes(tree_ + L"\\ro.txt", "r");
  SetFileAttributesW((tree_ + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  DeleteTree(tree_.c_str());
  EXPECT_FALSE(PathExists(tree_));
  EXPECT_TRUE(PathExists(outside_ + L"\\keep.txt"));
}

TEST_F(FolderTree, LeavesFilesAndMissingPathsAlone) {
  std::wstring file = tree_ + L"\\file.txt";
  WriteFileBytes(file, "f");
  DeleteTree(file.c_str());
  DeleteTree((tree_ + L"\\missing").c_str());
  EXPECT_EQ(ReadFileBytes(file), "f");
}

TEST_F(FolderTree, NeverFollowsALinkGivenAsTheFolder) {
  std::wstring link = temp_ / L"link";
  if (!MakeDirectoryLink(link, outside_)) GTEST_SKIP() << "no directory link on this system";
  DeleteTree(link.c_str());
  EXPECT_EQ(ReadFileBytes(outside_ + L"\\keep.txt"), "keep");
  EXPECT_TRUE(PathExists(link));
}

TEST_F(FolderTree, NeverFollowsALinkInsideTheTree) {
  std::wstring link = tree_ + L"\\inner";
  if (!MakeDirectoryLink(link, outside_)) GTEST_SKIP() << "no directory link on this system";
  WriteFileBytes(tree_ + L"\\own.txt", "own");
  DeleteTree(tree_.c_str());
  // Windows removes the link itself and then the tree; Wine cannot remove such a link without
  // reaching its target, so there the link stays and everything else goes.
  EXPECT_EQ(ReadFileBytes(outside_ + L"\\keep.txt"), "keep");
  EXPECT_FALSE(PathExists(tree_ + L"\\own.txt"));
}

// An attacker waits until the deletion has begun (the first folder it empties changes), then
// exchanges the other, still full folder for a link to a folder outside, which must survive
// whole. The attacker runs on the host, outside Windows' sharing rules, as fast as it can.
TEST_F(FolderTree, ALinkExchangedInWhileTheDeletionRunsIsNeverFollowed) {
  TempFolder work;
  std::string tree = HostPath(tree_), outside = HostPath(outside_), base = HostPath(work.path());
  if (tree.empty()) GTEST_SKIP() << "needs the host's shell to exchange folders";
  for (int i = 0; i < 20; i++) WriteFileBytes(outside_ + L"\\v" + std::to_wstring(i), "v");
  std::string script =
      "cd '" + tree + "' && mkdir first second && for i in $(seq 1000); do : > first/f$i; "
      ": > second/f$i; done\n"
      "touch '" + base + "/stamp' && touch '" + base + "/ready'\n"
      "while ! [ first -nt '" + base + "/stamp' ] && ! [ second -nt '" + base + "/stamp' ]; "
      "do :; done\n"
      "if [ first -nt '" + base + "/stamp' ]; then x=second; else x=first; fi\n"
      "mv $x $x.old && ln -s '" + outside + "' $x && touch '" + base + "/swapped'\n";
  WriteFileBytes(work / L"attack.sh", script);
  ASSERT_TRUE(StartHostScript(base + "/attack.sh"));
  for (int i = 0; i < 400 && !PathExists(work / L"ready"); i++) Sleep(25);
  ASSERT_TRUE(PathExists(work / L"ready"));
  DeleteTree(tree_.c_str());
  for (int i = 0; i < 200 && !PathExists(work / L"swapped"); i++) Sleep(25);
  ASSERT_TRUE(PathExists(work / L"swapped")) << "the exchange never happened";
  EXPECT_EQ(ReadFileBytes(outside_ + L"\\keep.txt"), "keep");
  EXPECT_EQ(ListFiles(outside_).size(), 21u);
}

}  // namespace
