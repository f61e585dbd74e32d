// A sandbox for the removal's hostile inputs: an installation folder "Ombrix" in a temp folder, a
// canary tree beside it that must never lose anything, directory links a non-elevated process may
// plant in the installation and in the temp folder, and lists of the installation's entries, of
// hostile ones, and of both mixed.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "driver/filelist.h"
#include "driver/listdeletion.h"
#include "shelltest.h"
#include "testenv.h"

struct Item {
  const wchar_t* path;  // relative to the sandbox
  bool folder;
  DWORD attributes;
};

// The installation, folders before their contents.
inline constexpr Item kInstallation[] = {
    {L"Ombrix", true, 0},
    {L"Ombrix\\sub", true, 0},
    {L"Ombrix\\sub\\deep", true, 0},
    {L"Ombrix\\empty", true, 0},
    {L"Ombrix\\with space", true, 0},
    {L"Ombrix\\uninstall.exe", false, 0},
    {L"Ombrix\\Ombrix.exe", false, 0},
    {L"Ombrix\\a.txt", false, 0},
    {L"Ombrix\\ lead.txt", false, 0},
    {L"Ombrix\\x.y.z", false, 0},
    {L"Ombrix\\ro.txt", false, FILE_ATTRIBUTE_READONLY},
    {L"Ombrix\\hidden.txt", false, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    {L"Ombrix\\sub\\c.txt", false, 0},
    {L"Ombrix\\sub\\deep\\d.txt", false, 0},
    {L"Ombrix\\with space\\f.txt", false, FILE_ATTRIBUTE_READONLY},
};

// Beside the installation: names that hostile entries aim at, including a sibling folder whose
// name begins with the installation's and files named like those inside.
inline constexpr Item kCanaries[] = {
    {L"canary", true, 0},
    {L"canary\\inner", true, 0},
    {L"canary\\keep.txt", false, 0},
    {L"canary\\inner\\keep2.txt", false, FILE_ATTRIBUTE_READONLY},
    {L"Ombrix2", true, 0},
    {L"Ombrix2\\a.txt", false, 0},
    {L"Ombrix.txt", false, 0},
    {L"a.txt", false, 0},
    {L"empty", true, 0},
    {L"sub", true, 0},
    {L"sub\\c.txt", false, 0},
    {L"list", true, 0},
    {L"tmp", true, 0},
    {L"tmp2", true, 0},
};

// Directory links a non-elevated process may plant: inside the installation, at the name of the
// main program's data folder in a temp folder, and inside that data folder.
struct PlantedLink {
  const wchar_t* path;
  const wchar_t* target;
};
inline constexpr PlantedLink kLinks[] = {
    {L"Ombrix\\intocanary", L"canary"},
    {L"Ombrix\\up", L""},
    {L"tmp\\Ombrix.exe.WebView2", L"canary"},
    {L"tmp2\\Ombrix.exe.WebView2\\data", L"canary"},
};

class ListHardening : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const Item& item : kCanaries) Make(item);
    ASSERT_TRUE(CreateDirectoryW((temp_ / L"tmp2\\Ombrix.exe.WebView2").c_str(), nullptr));
    Restore();
    if (!linked_) GTEST_SKIP() << "no directory link on this system";
    listPath_ = temp_ / L"list\\Uninstall.lst";
    std::string root = Narrow(temp_.path());
    std::string hostile[] = {
        "..\\canary\\keep.txt", "..\\a.txt", "..\\Ombrix2\\a.txt", "..\\Ombrix.txt",
        "..\\empty", "..\\sub\\c.txt", "..\\sub", "..\\canary\\inner\\keep2.txt",
        "sub\\..\\..\\a.txt", "sub/../../a.txt", "sub\\.\\..\\..\\canary\\keep.txt",
        ".\\..\\a.txt", "..\\\\a.txt", "...\\a.txt", ". .\\..\\a.txt", "..", ".", "sub\\..",
        "..\\list\\Uninstall.lst", root + "\\a.txt", root + "\\canary\\keep.txt",
        root.substr(2) + "\\a.txt", "C:" + root.substr(3) + "\\a.txt", "\\\\?\\" + root + "\\a.txt",
        "\\\\.\\" + root + "\\a.txt", "\\\\?\\GLOBALROOT\\??\\" + root + "\\a.txt",
        "\\\\localhost\\C$" + root.substr(2) + "\\a.txt", "a.txt:..\\..\\a.txt",
        "sub\\deep\\..\\..\\..\\Ombrix2", "with space\\..\\..\\empty", "..\\Ombrix2",
        "..\\canary\\inner", "..\\canary",
        // Through the links, as listed folders and in the middle of paths.
        "intocanary\\keep.txt", "intocanary\\inner\\keep2.txt", "intocanary\\inner", "intocanary",
        "up\\a.txt", "up\\canary\\keep.txt", "up\\canary\\inner", "up\\canary", "up\\empty",
        "up\\sub\\c.txt", "up\\Ombrix2\\a.txt", "up",
        // Devices.
        "NUL", "con.txt", "sub\\AUX", "COM1 .x", "lpt1...", "CONOUT$",
    };
    std::string clean;
    for (const Item& item : kInstallation)
      if (std::wcscmp(item.path, L"Ombrix") != 0) clean += Narrow(item.path + 7) + "\r\n";
    std::string mixed;
    for (size_t i = 0; i < sizeof hostile / sizeof hostile[0]; i++) {
      mixed += hostile[i] + (i % 3 ? "\r\n" : "\n");
      hostileLines_.push_back(hostile[i]);
    }
    corpus_ = {clean, mixed, clean + mixed, mixed + clean};
  }

  void TearDown() override {
    // Nothing may be left read-only for the folder's removal.
    for (const Item& item : kCanaries)
      SetFileAttributesW((temp_ / item.path).c_str(), FILE_ATTRIBUTE_NORMAL);
    for (const Item& item : kInstallation)
      SetFileAttributesW((temp_ / item.path).c_str(), FILE_ATTRIBUTE_NORMAL);
  }

  static std::string Narrow(const std::wstring& text) {
    char bytes[4096] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
  }

  void Make(const Item& item) {
    std::wstring path = temp_ / item.path;
    if (item.folder) {
      ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << Narrow(path);
    } else {
      WriteFileBytes(path, Narrow(item.path));
      if (item.attributes) SetFileAttributesW(path.c_str(), item.attributes);
    }
  }

  // Brings back whatever the last run deleted inside the installation, links included.
  void Restore() {
    for (const PlantedLink& link : kLinks) {
      std::wstring path = temp_ / link.path;
      if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        linked_ = MakeDirectoryLink(path, link.target[0] ? temp_ / link.target : temp_.path());
    }
    for (const Item& item : kInstallation) {
      std::wstring path = temp_ / item.path;
      DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        Make(item);
      } else {
        // The passes clear attributes before a delete that may then fail.
        SetFileAttributesW(path.c_str(), item.attributes ? item.attributes : FILE_ATTRIBUTE_NORMAL);
      }
    }
  }

  void ExpectCanariesIntact() {
    for (const Item& item : kCanaries) {
      std::wstring path = temp_ / item.path;
      DWORD attributes = GetFileAttributesW(path.c_str());
      ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "deleted outside: " << Narrow(path);
      ASSERT_EQ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, item.folder) << Narrow(path);
      if (!item.folder) {
        ASSERT_EQ(ReadFileBytes(path), Narrow(item.path));
      }
      if (item.attributes) {
        ASSERT_EQ(attributes & item.attributes, item.attributes) << Narrow(path);
      }
    }
    ASSERT_NE(GetFileAttributesW((temp_ / L"Ombrix").c_str()), INVALID_FILE_ATTRIBUTES);
  }

  DeletionResult Run(const std::string& list) {
    WriteFileBytes(listPath_, list);
    FileList files;
    EXPECT_TRUE(ReadFileList(listPath_.c_str(), files));
    return DeleteListedFiles(files, (temp_ / L"Ombrix\\").c_str(), L"uninstall.exe");
  }

  unsigned LinksLeft() {
    unsigned left = 0;
    for (const PlantedLink& link : kLinks)
      if (GetFileAttributesW((temp_ / link.path).c_str()) != INVALID_FILE_ATTRIBUTES) left++;
    return left;
  }

  unsigned InstallationLeft() {
    unsigned left = 0;
    for (const Item& item : kInstallation)
      if (GetFileAttributesW((temp_ / item.path).c_str()) != INVALID_FILE_ATTRIBUTES) left++;
    return left;
  }

  TempFolder temp_;
  bool linked_ = true;
  std::wstring listPath_;
  std::vector<std::string> corpus_;
  std::vector<std::string> hostileLines_;
};
