// The security handed to Windows for what only administrators may change. Wine keeps a file's
// security only as Unix permission bits, so the descriptor itself is checked here, as passed.
#include "filesystem/secure.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <set>
#include <string>

TEST(AdminOnlySecurity, FullAccessForAdministratorsAndSystemOnlyPassedDownAndProtected) {
  AdminOnlySecurity security;
  ASSERT_NE(security.get(), nullptr);
  PSECURITY_DESCRIPTOR descriptor = security.get()->lpSecurityDescriptor;
  EXPECT_FALSE(security.get()->bInheritHandle);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  EXPECT_FALSE(defaulted);
  ASSERT_EQ(dacl->AceCount, 2u);
  std::set<std::wstring> granted;
  for (DWORD i = 0; i < dacl->AceCount; i++) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
    wchar_t* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
    granted.insert(sid);
    LocalFree(sid);
  }
  EXPECT_EQ(granted, (std::set<std::wstring>{L"S-1-5-32-544", L"S-1-5-18"}));
}

TEST(IsProcessElevated, TheOverrideAnswersUntilItIsTakenBack) {
  bool system = IsProcessElevated();
  for (bool elevated : {true, false}) {
    SetElevationOverride(&elevated);
    EXPECT_EQ(IsProcessElevated(), elevated);
  }
  SetElevationOverride(nullptr);
  EXPECT_EQ(IsProcessElevated(), system);
}

// Under Wine every folder reads back as owned by its user, who may change it: so does a temp
// folder on Windows. The override stands for a folder only administrators may change (as under
// Program Files), with what is below it, and nothing beside it.
TEST(StandardUsersCanChange, OwnFoldersCanAndTheOverriddenFolderAndItsContentsCannot) {
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::wstring folder = std::wstring(temp) + L"Ombrix";
  std::wstring sibling = folder + L"2";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW(sibling.c_str(), nullptr);
  EXPECT_TRUE(StandardUsersCanChange(folder.c_str()));
  SetAdminOnlyFolderOverride(folder.c_str());
  for (const std::wstring& inside : {folder, folder + L"\\", folder + L"\\sub"})
    EXPECT_FALSE(StandardUsersCanChange(inside.c_str())) << inside;
  EXPECT_TRUE(StandardUsersCanChange(sibling.c_str()));
  EXPECT_TRUE(StandardUsersCanChange(temp));
  bool elevated = true;
  SetElevationOverride(&elevated);
  EXPECT_TRUE(ElevatedMayUse((folder + L"\\ombrix.chm").c_str()));
  EXPECT_FALSE(ElevatedMayUse((sibling + L"\\ombrix.chm").c_str()));
  elevated = false;
  SetElevationOverride(&elevated);
  EXPECT_TRUE(ElevatedMayUse((sibling + L"\\ombrix.chm").c_str()));
  SetElevationOverride(nullptr);
  SetAdminOnlyFolderOverride(nullptr);
  RemoveDirectoryW(folder.c_str());
  RemoveDirectoryW(sibling.c_str());
}
