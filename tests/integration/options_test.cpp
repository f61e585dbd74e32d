// The integration choices: defaults and stored values, the Windows 11 rules, the preset string
// and the mapping to the setup dialog's check boxes.
#include "integration/options.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "integrationenv.h"
#include "regsnapshot.h"
#include "resources/resource.h"
#include "settings/registry.h"

namespace {

constexpr unsigned kJarRow = 11;
constexpr unsigned kIsoRow = 12;

void SetClassType(const wchar_t* ext, const wchar_t* type) {
  ASSERT_EQ(SetRegString(HKEY_CLASSES_ROOT, ext, L"", type), 0u);
}

DWORD Setting(const wchar_t* subkey, const wchar_t* name) {
  return GetSettingDword(subkey, name, 0xDEAD);
}

std::vector<unsigned> AllOptionControls() {
  std::vector<unsigned> ids;
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_ASSOCALL; id++) ids.push_back(id);
  return ids;
}

}  // namespace

TEST(LoadIntegrationOptions, NoSettingsGivesTheDefaultsWithCascadingOnlyOnWindows11) {
  const PlatformOverride* platforms[] = {&kWindows7, &kWindows10, &kWindows10HighBuild,
                                         &kWindows10x64, &kWindows11ByBuild, &kWindowsMajor11};
  for (const PlatformOverride* platform : platforms) {
    IntegrationEnv env(*platform);
    IntegrationOptions options = {};
    LoadIntegrationOptions(options);
    for (unsigned row = 0; row < kArchiveTypeCount; row++)
      EXPECT_EQ(options.associate[row], row != kJarRow) << "row " << row;
    EXPECT_FALSE(options.linkDesktop || options.linkStartMenu || options.legacyMenu);
    EXPECT_TRUE(options.linkPrograms && options.shellExt && options.menuIcons);
    bool windows11 = platform == &kWindows11ByBuild || platform == &kWindowsMajor11;
    EXPECT_EQ(options.cascadedMenu, windows11) << "build " << platform->build;
  }
}

TEST(LoadIntegrationOptions, Windows11IgnoresStoredFlatMenuUnlessNewContextMenuIsSet) {
  {
    IntegrationEnv env(kWindowsMajor11);
    SetSettingDword(L"Setup", L"CascadedMenu", 0);
    IntegrationOptions options = {};
    LoadIntegrationOptions(options);
    EXPECT_TRUE(options.cascadedMenu);

    SetSettingDword(L"Setup", L"NewContextMenu", 1);
    LoadIntegrationOptions(options);
    EXPECT_FALSE(options.cascadedMenu);
  }
  {
    IntegrationEnv env(kWindows10);
    SetSettingDword(L"Setup", L"CascadedMenu", 0);
    IntegrationOptions options = {};
    options.cascadedMenu = true;
    LoadIntegrationOptions(options);
    EXPECT_FALSE(options.cascadedMenu);
  }
}

TEST(LoadIntegrationOptions, JarNeedsTheProductAsOwnerAndIsoGoesOffUnderAnotherOwner) {
  IntegrationEnv env;
  struct Case {
    const wchar_t* owner;  // null: no key
    DWORD stored;
    bool jar;
    bool iso;
  };
  const Case cases[] = {
      {nullptr, 1, false, true},  {L"", 0, false, false},         {L"Windows.IsoFile", 1, false, false},
      {L"ombrix", 1, true, true}, {L"Ombrix.ZIP", 0, false, false},
  };
  for (const Case& c : cases) {
    if (c.owner) {
      SetClassType(L".jar", c.owner);
      SetClassType(L".iso", c.owner);
    }
    SetSettingDword(L"Setup\\.jar", L"Set", c.stored);
    SetSettingDword(L"Setup\\.iso", L"Set", c.stored);
    IntegrationOptions options = {};
    LoadIntegrationOptions(options);
    EXPECT_EQ(options.associate[kJarRow], c.jar) << (c.owner ? c.owner : L"none");
    EXPECT_EQ(options.associate[kIsoRow], c.iso) << (c.owner ? c.owner : L"none");
    EXPECT_TRUE(options.associate[kObxRow]);
  }
}

TEST(LoadIntegrationOptions, RowsAreReadFromTheirPrimaryExtensionsKey) {
  IntegrationEnv env;
  SetSettingDword(L"Setup\\.lz", L"Set", 0);
  SetSettingDword(L"Setup\\.tbz2", L"Set", 0);  // not a primary alias: ignored
  SetSettingDword(L"Setup\\.001", L"Set", 7);   // any non-zero value is on
  IntegrationOptions options = {};
  LoadIntegrationOptions(options);
  EXPECT_FALSE(options.associate[4]);
  EXPECT_TRUE(options.associate[10]);
  EXPECT_TRUE(options.associate[17]);
}

TEST(SaveIntegrationOptions, WritesExactlyTheTwentyFiveValues) {
  IntegrationEnv env;
  IntegrationOptions options = {};
  options.associate[0] = options.associate[4] = options.associate[17] = true;
  options.associate[18] = options.associate[19] = true;
  options.linkStartMenu = options.shellExt = options.legacyMenu = true;
  SaveIntegrationOptions(options);

  RegSnapshot saved =
      TakeRegSnapshot(env.registry.Real(HKEY_CURRENT_USER), L"Software\\Ombrix\\Setup");
  unsigned count = 0;
  for (const auto& key : saved) {
    for (const auto& value : key.second) {
      EXPECT_EQ(value.second.type, static_cast<DWORD>(REG_DWORD)) << key.first;
      count++;
    }
  }
  EXPECT_EQ(count, 25u);
  EXPECT_EQ(saved.size(), 1u + 18u + 1u);  // "Setup", the rows, "Links"
  EXPECT_EQ(Setting(L"Setup\\.lz", L"Set"), 1u);
  EXPECT_EQ(Setting(L"Setup\\.zip", L"Set"), 0u);
  EXPECT_EQ(Setting(L"Setup\\Links", L"StartMenu"), 1u);
  EXPECT_EQ(Setting(L"Setup\\Links", L"Programs"), 0u);
  EXPECT_EQ(Setting(L"Setup", L"LegacyMenu"), 1u);
  EXPECT_EQ(Setting(L"Setup", L"MenuIcons"), 0u);
}

TEST(SaveIntegrationOptions, LoadThenSaveKeepsWhatWasReadExceptTheOverrides) {
  IntegrationEnv env(kWindowsMajor11);
  SetSettingDword(L"Setup\\.zip", L"Set", 0);
  SetSettingDword(L"Setup\\.cab", L"Set", 1);
  SetSettingDword(L"Setup\\.jar", L"Set", 1);
  SetSettingDword(L"Setup\\.iso", L"Set", 1);
  SetSettingDword(L"Setup\\Links", L"Desktop", 1);
  SetSettingDword(L"Setup\\Links", L"StartMenu", 0);
  SetSettingDword(L"Setup", L"CascadedMenu", 0);
  SetSettingDword(L"Setup", L"MenuIcons", 0);
  SetClassType(L".iso", L"Windows.IsoFile");
  RegSnapshot before =
      TakeRegSnapshot(env.registry.Real(HKEY_CURRENT_USER), L"Software\\Ombrix\\Setup");

  IntegrationOptions options = {};
  LoadIntegrationOptions(options);
  SaveIntegrationOptions(options);

  RegSnapshot after =
      TakeRegSnapshot(env.registry.Real(HKEY_CURRENT_USER), L"Software\\Ombrix\\Setup");
  for (const auto& key : before)
    for (const auto& value : key.second) {
      bool overridden = key.first == L".JAR" || key.first == L".ISO" ||
                        (key.first.empty() && value.first == L"CASCADEDMENU");
      if (!overridden) {
        EXPECT_TRUE(after[key.first][value.first] == value.second)
            << "changed: " << key.first.c_str() << " " << value.first.c_str();
      }
    }
  EXPECT_EQ(Setting(L"Setup\\.jar", L"Set"), 0u);
  EXPECT_EQ(Setting(L"Setup\\.iso", L"Set"), 0u);
  EXPECT_EQ(Setting(L"Setup", L"CascadedMenu"), 1u);
}

TEST(ApplyInitString, ExampleSetsOnlyTheNamedFields) {
  IntegrationOptions options = {};
  options.associate[5] = true;
  options.shellExt = true;
  options.linkPrograms = true;
  ApplyInitString(L"A1101D1S0", options);
  EXPECT_TRUE(options.associate[0]);
  EXPECT_TRUE(options.associate[1]);
  EXPECT_FALSE(options.associate[2]);
  EXPECT_TRUE(options.associate[3]);
  EXPECT_TRUE(options.associate[5]);  // beyond the digits given
  EXPECT_TRUE(options.linkDesktop);
  EXPECT_FALSE(options.shellExt);
  EXPECT_TRUE(options.linkPrograms);
}

TEST(ApplyInitString, LettersIgnoreCaseAndEachSetsItsField) {
  IntegrationOptions lower = {}, upper = {};
  ApplyInitString(L"a1d1", lower);
  ApplyInitString(L"A1D1", upper);
  EXPECT_TRUE(lower.associate[0]);
  EXPECT_TRUE(lower.linkDesktop);
  EXPECT_EQ(memcmp(&lower, &upper, sizeof lower), 0);

  IntegrationOptions options = {};
  ApplyInitString(L"c1i1m1p1s1", options);
  EXPECT_TRUE(options.cascadedMenu && options.menuIcons && options.linkStartMenu &&
              options.linkPrograms && options.shellExt);
  EXPECT_FALSE(options.linkDesktop || options.legacyMenu);
  ApplyInitString(L"C0I2M0P0S0", options);  // only "1" means on
  EXPECT_FALSE(options.cascadedMenu || options.menuIcons || options.linkStartMenu ||
               options.linkPrograms || options.shellExt);
}

TEST(ApplyInitString, AtMostTwentyDigitsThenTheNextDigitIsALetter) {
  const std::wstring twenty(20, L'1');
  // The 21st digit pairs with the 22nd, the 23rd with the 24th, the 25th with "D": "1" is alone.
  IntegrationOptions options = {};
  ApplyInitString((L"A" + twenty + L"00000D1").c_str(), options);
  for (unsigned k = 0; k < kAssociateEntries; k++) EXPECT_TRUE(options.associate[k]) << k;
  EXPECT_FALSE(options.linkDesktop);
  // With 24 digits the pairs end before "D1", which is then read.
  IntegrationOptions even = {};
  ApplyInitString((L"A" + twenty + L"0000D1").c_str(), even);
  EXPECT_TRUE(even.associate[19]);
  EXPECT_TRUE(even.linkDesktop);
  // A digit run never reaches the fields after the association flags.
  IntegrationOptions letters = {};
  ApplyInitString((L"A" + twenty + L"S1").c_str(), letters);
  EXPECT_TRUE(letters.shellExt);
}

TEST(ApplyInitString, LoneLastLetterEndsThePresetAfterTheRest) {
  IntegrationOptions options = {};
  ApplyInitString(L"A11D", options);
  EXPECT_TRUE(options.associate[0]);
  EXPECT_TRUE(options.associate[1]);
  EXPECT_FALSE(options.linkDesktop);

  ApplyInitString(L"X1Z9D1", options);  // unknown letters are skipped with their follower
  EXPECT_TRUE(options.linkDesktop);

  IntegrationOptions untouched = {};
  ApplyInitString(L"", untouched);
  ApplyInitString(L"S", untouched);
  ApplyInitString(nullptr, untouched);
  IntegrationOptions zero = {};
  EXPECT_EQ(memcmp(&untouched, &zero, sizeof zero), 0);
}

TEST(ShowOptionsInDialog, EachFieldHasItsOwnCheckBoxBothWays) {
  IntegrationEnv env;
  CheckBoxDialog dialog(AllOptionControls());
  ASSERT_TRUE(dialog.get());
  // Rows 4, 13 and 14 have control ids out of row order.
  IntegrationOptions shown = {};
  shown.associate[2] = shown.associate[4] = shown.associate[13] = true;
  shown.linkStartMenu = shown.menuIcons = shown.legacyMenu = true;
  ShowOptionsInDialog(dialog.get(), shown);
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_SHELLLEGACYMENU; id++) {
    bool expected = id == IDC_ASSOCCAB || id == IDC_ASSOCLZ || id == IDC_ASSOCZ ||
                    id == IDC_LINKSTARTMENU || id == IDC_SHELLICONS || id == IDC_SHELLLEGACYMENU;
    EXPECT_EQ(dialog.Checked(id), expected) << id;
  }

  IntegrationOptions read = {};
  for (bool& flag : read.associate) flag = true;
  read.linkDesktop = read.shellExt = read.cascadedMenu = true;
  ReadOptionsFromDialog(dialog.get(), read);
  EXPECT_EQ(memcmp(&read.associate, &shown.associate, kArchiveTypeCount), 0);
  EXPECT_FALSE(read.linkDesktop || read.linkPrograms || read.shellExt || read.cascadedMenu);
  EXPECT_TRUE(read.linkStartMenu && read.menuIcons && read.legacyMenu);

  dialog.SetChecked(IDC_ASSOCLZ, false);  // ".lz"
  dialog.SetChecked(IDC_ASSOCXZ, true);   // ".xz"
  ReadOptionsFromDialog(dialog.get(), read);
  EXPECT_FALSE(read.associate[4]);
  EXPECT_TRUE(read.associate[14]);
}

TEST(ShowOptionsInDialog, EnablingFollowsTheRecordAndWindows11) {
  struct Case {
    const PlatformOverride* platform;
    bool shellExt;
    bool menusEnabled;
    bool legacyEnabled;
  };
  const Case cases[] = {
      {&kWindows10, true, true, false},  {&kWindows10, false, false, false},
      {&kWindowsMajor11, true, true, true},   {&kWindowsMajor11, false, false, false},
      {&kWindows10HighBuild, true, true, false}, {&kWindows11ByBuild, true, true, true},
  };
  for (const Case& c : cases) {
    IntegrationEnv env(*c.platform);
    CheckBoxDialog dialog(AllOptionControls());
    IntegrationOptions options = {};
    options.shellExt = c.shellExt;
    dialog.SetChecked(IDC_SHELLEXT, !c.shellExt);  // the check box must not decide
    ShowOptionsInDialog(dialog.get(), options);
    EXPECT_EQ(dialog.Enabled(IDC_SHELLCASCADED), c.menusEnabled);
    EXPECT_EQ(dialog.Enabled(IDC_SHELLICONS), c.menusEnabled);
    EXPECT_EQ(dialog.Enabled(IDC_SHELLLEGACYMENU), c.legacyEnabled);
    EXPECT_TRUE(dialog.Enabled(IDC_LINKDESKTOP));
  }
}

TEST(ToggleAllAssociations, ChecksAllWhenAnyIsClearOtherwiseClearsAll) {
  CheckBoxDialog dialog(AllOptionControls());
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_ASSOC001; id++)
    dialog.SetChecked(id, id != IDC_ASSOCBZ2);
  dialog.SetChecked(IDC_LINKDESKTOP, false);
  ToggleAllAssociations(dialog.get());
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_ASSOC001; id++) EXPECT_TRUE(dialog.Checked(id)) << id;
  EXPECT_FALSE(dialog.Checked(IDC_LINKDESKTOP));  // only the association boxes

  ToggleAllAssociations(dialog.get());
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_ASSOC001; id++) EXPECT_FALSE(dialog.Checked(id)) << id;
}

TEST(ToggleAllAssociations, ControlsMissingFromTheDialogDoNotCount) {
  std::vector<unsigned> ids;
  for (unsigned id = IDC_ASSOCOBX; id <= IDC_ASSOC001; id++)
    if (id != IDC_ASSOCCAB && id != IDC_ASSOC001) ids.push_back(id);
  CheckBoxDialog dialog(ids);
  for (unsigned id : ids) dialog.SetChecked(id, true);
  ToggleAllAssociations(dialog.get());
  for (unsigned id : ids) EXPECT_FALSE(dialog.Checked(id)) << id;
}
