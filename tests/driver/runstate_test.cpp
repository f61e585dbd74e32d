// The message box every message of the driver goes through, and the rights error shown with it.
#include "driver/runstate.h"

#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "uiauto.h"

// Wine's message box ignores MB_RIGHT and MB_RTLREADING, so only the pass-through shows here.
// The program's own text first, then the system's own words for the error; nothing when silent.
TEST(ShowRightsError, JoinsTheMessageWithTheSystemsTextAndStaysQuietWhenSilent) {
  wchar_t system[256] = {};
  ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_ACCESS_DENIED, 0, system, 256, nullptr),
            0u);
  std::wstring systemText = system;
  while (!systemText.empty() && (systemText.back() == L'\n' || systemText.back() == L'\r'))
    systemText.pop_back();
  wchar_t own[1024] = {}, caption[256] = {};
  LoadStringW(GetModuleHandleW(nullptr), IDS_UNINSTALLNORIGHTS, own, 1024);
  LoadStringW(GetModuleHandleW(nullptr), IDS_UNINSTALLOBX, caption, 256);
  ASSERT_NE(own[0], 0);
  {
    DialogAnswerer answerer(IDOK);
    ShowRightsError(IDS_UNINSTALLNORIGHTS, IDS_UNINSTALLOBX, ERROR_ACCESS_DENIED);
    const DialogSnapshot& box = answerer.Wait();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, caption);
    ASSERT_NE(box.Control(kMessageBoxTextId), nullptr);
    EXPECT_EQ(box.Control(kMessageBoxTextId)->text, std::wstring(own) + L"\n\n" + systemText);
  }
  runState.silent = true;
  DialogAnswerer answerer(IDOK, 1500);
  ShowRightsError(IDS_UNINSTALLNORIGHTS, IDS_UNINSTALLOBX, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(answerer.Wait().found);
}

TEST(ShowMessage, ShowsTheTextAndReturnsThePressedButtonButNothingWhenSilent) {
  {
    DialogAnswerer answerer(IDCANCEL);
    EXPECT_EQ(ShowMessage(nullptr, L"obx text", L"obx probe", MB_OKCANCEL), IDCANCEL);
    const DialogSnapshot& box = answerer.Wait();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, L"obx probe");
    ASSERT_NE(box.Control(kMessageBoxTextId), nullptr);
    EXPECT_EQ(box.Control(kMessageBoxTextId)->text, L"obx text");
  }
  runState.silent = true;
  DialogAnswerer answerer(IDYES, 1500);
  EXPECT_EQ(ShowMessage(nullptr, L"obx text", L"obx probe", MB_YESNO), 0);
  EXPECT_FALSE(answerer.Wait().found);
}
