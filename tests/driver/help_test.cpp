// The help launcher: the viewer loaded once from the system folder, the help file path computed
// once, the topic and contents requests, and the one retry through the short path when the
// program's folder holds characters the ANSI code page cannot carry.
#include "driver/help.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filesystem/secure.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr UINT kDisplayTopic = 0x0000;
constexpr UINT kDisplayToc = 0x0001;
constexpr wchar_t kChildSwitch[] = L"OBX_HELP_CHILD";

struct ViewerCall {
  HWND caller;
  std::wstring request;
  UINT command;
};
std::vector<ViewerCall> viewerCalls;
// Which calls the stand-in viewer answers with a window, by position; later calls use the last.
std::vector<bool> viewerAnswers;

HWND WINAPI StandInViewer(HWND caller, const wchar_t* request, UINT command, DWORD_PTR) {
  size_t index = viewerCalls.size();
  viewerCalls.push_back({caller, request ? request : L"", command});
  bool answer = viewerAnswers.empty()
                    ? false
                    : viewerAnswers[index < viewerAnswers.size() ? index : viewerAnswers.size() - 1];
  return answer ? GetDesktopWindow() : nullptr;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4 - 1);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

class HelpLauncher : public ::testing::Test {
 protected:
  void SetUp() override {
    viewerCalls.clear();
    viewerAnswers.clear();
    SetHelpViewerOverride(StandInViewer);
    SetElevationOverride(&notElevated_);
  }
  bool notElevated_ = false;
};

}  // namespace

// Elevated, no help file is opened from a folder that a standard user may change (under Wine
// every folder reads back as its user's); from one only administrators may change it is.
TEST_F(HelpLauncher, ElevatedOpensNoHelpFileAStandardUserCouldHavePutThere) {
  viewerAnswers = {true};
  bool elevated = true;
  SetElevationOverride(&elevated);
  EXPECT_EQ(ShowHelp(L"HELPContextItems"), nullptr);
  EXPECT_EQ(ShowHelp(nullptr), nullptr);
  EXPECT_TRUE(viewerCalls.empty());
  SetAdminOnlyFolderOverride(ProgramFolder().c_str());
  EXPECT_EQ(ShowHelp(nullptr), GetDesktopWindow());
  EXPECT_EQ(viewerCalls.size(), 1u);
}

TEST_F(HelpLauncher, TopicAndContentsRequestsGoToTheHelpFileBesideTheProgram) {
  viewerAnswers = {true};
  EXPECT_EQ(ShowHelp(L"HELPContextItems"), GetDesktopWindow());
  EXPECT_EQ(ShowHelp(nullptr), GetDesktopWindow());
  EXPECT_EQ(ShowHelp(L"HELPIntegrationSettings"), GetDesktopWindow());

  std::wstring file = ProgramFolder() + L"ombrix.chm";
  EXPECT_EQ(HelpFilePath(), file);
  ASSERT_EQ(viewerCalls.size(), 3u);
  EXPECT_EQ(viewerCalls[0].request, file + L"::/html/HELPContextItems.htm");
  EXPECT_EQ(viewerCalls[0].command, kDisplayTopic);
  EXPECT_EQ(viewerCalls[1].request, file);
  EXPECT_EQ(viewerCalls[1].command, kDisplayToc);
  EXPECT_EQ(viewerCalls[2].request, file + L"::/html/HELPIntegrationSettings.htm");
  // The desktop owns the help window, so it outlives the dialog that asked.
  for (const ViewerCall& call : viewerCalls) EXPECT_EQ(call.caller, GetDesktopWindow());
  EXPECT_EQ(HelpModuleLoads(), 1u);
}

// The program's folder survives the ANSI round trip here, so there is nothing to retry with.
TEST_F(HelpLauncher, AFailedRequestFromAnAnsiFolderIsNotRetried) {
  EXPECT_EQ(ShowHelp(L"HELPContextItems"), nullptr);
  EXPECT_EQ(ShowHelp(nullptr), nullptr);
  EXPECT_EQ(viewerCalls.size(), 2u);
  EXPECT_EQ(HelpModuleLoads(), 1u);
}

TEST_F(HelpLauncher, OverlongTopicIsCutAndTheRequestStaysTerminated) {
  viewerAnswers = {true};
  std::wstring topic(3000, L't');
  ShowHelp(topic.c_str());
  ASSERT_EQ(viewerCalls.size(), 1u);
  EXPECT_EQ(viewerCalls[0].request.size(), 2097u);
  EXPECT_EQ(viewerCalls[0].request.find(HelpFilePath()), 0u);
}

// Runs in a copy of this test program placed in a folder whose name the ANSI code page cannot
// represent; the parent test below starts it.
TEST_F(HelpLauncher, ChildInNonAnsiFolder) {
  if (GetEnvironmentVariableW(kChildSwitch, nullptr, 0) == 0) GTEST_SKIP() << "started by parent";
  std::wstring longFile = ProgramFolder() + L"ombrix.chm";
  wchar_t shortFolder[MAX_PATH * 4] = {};
  ASSERT_GT(GetShortPathNameW(ProgramFolder().c_str(), shortFolder, MAX_PATH * 4), 0u);
  std::wstring shortFile = std::wstring(shortFolder) + L"ombrix.chm";
  ASSERT_NE(shortFile, longFile);

  viewerAnswers = {false, true, true, false};
  EXPECT_EQ(ShowHelp(L"HELPIntegrationSettings"), GetDesktopWindow());
  ASSERT_EQ(viewerCalls.size(), 2u);
  EXPECT_EQ(viewerCalls[0].request, longFile + L"::/html/HELPIntegrationSettings.htm");
  EXPECT_EQ(viewerCalls[1].request, shortFile + L"::/html/HELPIntegrationSettings.htm");
  EXPECT_EQ(HelpFilePath(), shortFile);

  EXPECT_EQ(ShowHelp(nullptr), GetDesktopWindow());
  ASSERT_EQ(viewerCalls.size(), 3u);
  EXPECT_EQ(viewerCalls[2].request, shortFile);

  // The retry is spent: a later failure is final.
  EXPECT_EQ(ShowHelp(nullptr), nullptr);
  EXPECT_EQ(viewerCalls.size(), 4u);
  EXPECT_EQ(HelpModuleLoads(), 1u);
  // Tells the parent that the checks really ran here rather than being skipped.
  if (!HasFailure()) WriteFileBytes(ProgramFolder() + L"child-passed", "1");
}

TEST_F(HelpLauncher, FolderOutsideTheAnsiCodePageRetriesOnceThroughTheShortPath) {
  // Characters that no single-byte ANSI code page holds together.
  std::wstring name = L"\x5E2E\x52A9 \x03A9\x0416 help";
  BOOL lossy = FALSE;
  char narrow[64];
  WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, narrow, sizeof narrow, nullptr, &lossy);
  if (!lossy) GTEST_SKIP() << "the ANSI code page " << GetACP() << " holds every character";

  TempFolder temp;
  std::wstring folder = temp / name;
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  std::wstring copy = folder + L"\\driver_tests.exe";
  wchar_t self[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4 - 1);
  ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));

  TestProcess child;
  EnvironmentChanges environment;
  environment.set.push_back({kChildSwitch, L"1"});
  ASSERT_TRUE(child.Start(copy, L"--gtest_filter=HelpLauncher.ChildInNonAnsiFolder", environment,
                          folder))
      << child.lastError();
  ASSERT_TRUE(child.WaitForExit(60000));
  EXPECT_EQ(child.exitCode(), 0u);
  EXPECT_EQ(GetFileAttributesW((folder + L"\\child-passed").c_str()) != INVALID_FILE_ATTRIBUTES,
            true);
}
