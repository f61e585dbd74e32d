// The names tests expect the program to write, spelled out here rather than taken from the
// program's own definitions (base/product.h), so that a wrong name there fails a test.
#pragma once

// The installed-programs record, under HKEY_LOCAL_MACHINE.
constexpr wchar_t kRecordKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ombrix archiver";
// App Paths, under HKEY_LOCAL_MACHINE: the folder of every program's entry, and the product's.
constexpr wchar_t kAppPathsFolderKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr wchar_t kAppPathsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ombrix.exe";
// The product's own key: the user's settings under HKEY_CURRENT_USER.
constexpr wchar_t kSettingsKey[] = L"Software\\Ombrix";
// The Explorer modules' classes: the 32-bit module's, and the 64-bit module's on 64-bit Windows.
constexpr wchar_t kClassId32[] = L"{7C3E5A10-2B4D-11D2-8F1A-3A5C6E7D8F90}";
constexpr wchar_t kClassId64[] = L"{7C3E5A10-1B4D-11D2-8F1A-3A5C6E7D8F90}";
// Where the shell lists the approved Explorer extensions, under HKEY_LOCAL_MACHINE.
constexpr wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
