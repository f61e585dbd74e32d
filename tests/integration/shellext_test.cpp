// Registration of the Explorer modules on a scratch registry, per Windows variant.
#include "integration/shellext.h"

#include "expected_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "base/winver.h"
#include "machine.h"
#include "platforms.h"
#include "regsnapshot.h"
#include "settings/registry.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

class ShellExtension : public ::testing::Test {
 protected:
  void SetUp() override { UseClassesRootViews(); }
  void TearDown() override { RemoveRealView64Keys(); }

  void On(const PlatformOverride& platform) { SetPlatformOverride(&platform); }
  // The whole of HKCR and the approval key, for exact comparisons.
  std::map<std::wstring, std::wstring> Classes() const {
    return DumpRegistry(HKEY_CLASSES_ROOT, L"");
  }
  std::map<std::wstring, std::wstring> Approved() const {
    return DumpRegistry(HKEY_LOCAL_MACHINE, kApprovedKey);
  }

  std::map<std::wstring, std::wstring> ClassKeysInView64(const wchar_t* classId) const {
    return DumpRegistry(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + classId, KEY_WOW64_64KEY);
  }

  MachineStateLock machine_;  // the real 64-bit view is shared with other test programs
  ScratchRegistry registry_;
  IntegrationOptions options_ = {};
};

TEST_F(ShellExtension, SixtyFourBitWindows_RegistersBothModulesAndTheSecondOwnsTheDropHandlers) {
  On(kWindows10x64);
  options_.shellExt = true;
  RegisterShellExtensions(false, options_);

  std::map<std::wstring, std::wstring> expected;
  AddModuleKeys(expected, kClassId32, L"Ombrix32", L"obxext.dll", true);
  AddModuleKeys(expected, kClassId64, L"Ombrix", nullptr, true);
  std::map<std::wstring, std::wstring> classes = Classes();
  // Written second, so the 64-bit class holds both drop handlers.
  EXPECT_EQ(classes[L"Ombrix\\shellex\\DropHandler|@"], std::wstring(L"sz:") + kClassId64);
  EXPECT_EQ(classes[L"Ombrix.ZIP\\shellex\\DropHandler|@"], std::wstring(L"sz:") + kClassId64);
  EXPECT_EQ(classes, expected);
  // The 64-bit module's class goes to the 64-bit view only.
  EXPECT_EQ(ClassKeysInView64(kClassId64), ClassKeys(L"obxext64.dll"));
  std::map<std::wstring, std::wstring> approved = {
      {std::wstring(L"|") + kClassId32, L"sz:Ombrix shell extension"},
      {std::wstring(L"|") + kClassId64, L"sz:Ombrix shell extension"}};
  EXPECT_EQ(Approved(), approved);
  EXPECT_EQ(RegView, 0u);
}

TEST_F(ShellExtension, ThirtyTwoBitWindows_RegistersOnlyTheFirstModuleUnderOmbrix) {
  On(kWindows7);
  options_.shellExt = true;
  RegisterShellExtensions(false, options_);

  std::map<std::wstring, std::wstring> expected;
  AddModuleKeys(expected, kClassId32, L"Ombrix", L"obxext.dll", true);
  EXPECT_EQ(Classes(), expected);
  EXPECT_EQ(Approved().size(), 1u);
}

TEST_F(ShellExtension, SixtyFourBitView_IsSelectedOnlyOnSixtyFourBitWindowsAndScoped) {
  On(kWindows7);
  EXPECT_EQ(RegViewFor(true), 0u);
  On(kWindows10x64);
  EXPECT_EQ(RegViewFor(false), 0u);
  SetRegView(0);
  try {
    ScopedRegView view(RegViewFor(true));
    EXPECT_EQ(RegView, static_cast<REGSAM>(KEY_WOW64_64KEY));
    throw 1;
  } catch (int) {
  }
  EXPECT_EQ(RegView, 0u);
}

TEST_F(ShellExtension, Windows11_DropsTheClassicMenuUnlessTheLegacyMenuIsWanted) {
  On(kWindows10x64);
  options_.shellExt = true;
  RegisterShellExtensions(false, options_);

  On(kWindows11x64);
  RegisterShellExtensions(false, options_);
  std::map<std::wstring, std::wstring> expected;
  AddModuleKeys(expected, kClassId32, L"Ombrix32", L"obxext.dll", false);
  AddModuleKeys(expected, kClassId64, L"Ombrix", nullptr, false);
  // Deleting the menu keys leaves their now empty parents behind.
  for (const wchar_t* parent : {L"*", L"Folder", L"lnkfile", L"Ombrix", L"Ombrix.ZIP"})
    expected[std::wstring(parent) + L"\\shellex\\ContextMenuHandlers|"] = L"(empty)";
  EXPECT_EQ(Classes(), expected);

  options_.legacyMenu = true;
  RegisterShellExtensions(false, options_);
  expected.clear();
  AddModuleKeys(expected, kClassId32, L"Ombrix32", L"obxext.dll", true);
  AddModuleKeys(expected, kClassId64, L"Ombrix", nullptr, true);
  EXPECT_EQ(Classes(), expected);
}

TEST_F(ShellExtension, Windows10WithHighBuildNamedWindows10ByWmi_KeepsTheClassicMenu) {
  On(kWindows10HighBuildx64);
  options_.shellExt = true;
  RegisterShellExtensions(false, options_);
  EXPECT_EQ(Classes()[L"*\\shellex\\ContextMenuHandlers\\Ombrix|@"], std::wstring(L"sz:") + kClassId64);
}

TEST_F(ShellExtension, MissingModuleFile_WritesTheHandlersWithoutClassKeys) {
  On(kWindows10x64);
  options_.shellExt = true;
  RegisterShellExtension(options_, L"obxext_missing.dll", kClassId32, L"Ombrix32", false);

  std::map<std::wstring, std::wstring> expected;
  AddModuleKeys(expected, kClassId32, L"Ombrix32", nullptr, true);
  EXPECT_EQ(Classes(), expected);
  EXPECT_EQ(Approved().size(), 1u);
}

TEST_F(ShellExtension, Unregistering_RemovesEveryKeyAndValueOfBothModules) {
  On(kWindows10x64);
  options_.shellExt = true;
  RegisterShellExtensions(false, options_);
  // Something of another program beside ours stays.
  ASSERT_EQ(SetRegString(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\Other", nullptr,
                         L"{other}"),
            0u);

  IntegrationOptions none = {};
  RegisterShellExtensions(true, none);
  for (const auto& entry : Classes()) {
    EXPECT_EQ(entry.first.find(L"{7C3E5A10"), std::wstring::npos) << entry.first;
    EXPECT_EQ(entry.first.find(L"Ombrix32"), std::wstring::npos) << entry.first;
    EXPECT_EQ(entry.first.find(L"Handlers\\Ombrix|"), std::wstring::npos) << entry.first;
    EXPECT_EQ(entry.first.find(L"DropHandler|"), std::wstring::npos) << entry.first;
  }
  EXPECT_EQ(Classes()[L"*\\shellex\\ContextMenuHandlers\\Other|@"], L"sz:{other}");
  EXPECT_EQ(Approved(), (std::map<std::wstring, std::wstring>()));
  EXPECT_EQ(ClassKeysInView64(kClassId64), (std::map<std::wstring, std::wstring>()));
  EXPECT_EQ(RegView, 0u);
}

}  // namespace
