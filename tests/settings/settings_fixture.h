// Shared by the settings tests: an ini search pointed at a temp folder, and the store's entries
// as plain values for comparing.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/store.h"
#include "testenv.h"

struct IniLine {
  std::wstring key;
  std::wstring value;
  uint32_t kind;
  bool operator==(const IniLine& other) const {
    return key == other.key && value == other.value && kind == other.kind;
  }
};

inline std::vector<IniLine> StoreEntries() {
  std::vector<IniLine> lines;
  for (const IniEntry* entry = settingsStore.first; entry; entry = entry->next)
    lines.push_back({entry->key, entry->value, entry->kind});
  return lines;
}

// UTF-16 LE bytes with the mark, as the store writes them.
inline std::string Utf16File(const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  for (wchar_t ch : text) {
    bytes += static_cast<char>(ch & 0xFF);
    bytes += static_cast<char>(ch >> 8);
  }
  return bytes;
}

// The search looks next to a program file in a temp folder ("program") and in a per-user data
// folder beside it ("user"); neither holds an ini file at the start.
class IniSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryW(programFolder().c_str(), nullptr);
    CreateDirectoryW(userFolder().c_str(), nullptr);
    SetIniSearchPlaces((programFolder() + L"\\uninstall.exe").c_str(), userFolder().c_str());
  }
  std::wstring programFolder() const { return temp_ / L"program"; }
  std::wstring userFolder() const { return temp_ / L"user"; }
  std::wstring programIni() const { return programFolder() + L"\\Ombrix.ini"; }
  std::wstring userIni() const { return userFolder() + L"\\Ombrix.ini"; }
  // Writes the ini next to the program and runs the search.
  void LoadFromProgramFolder(const std::string& bytes) {
    WriteFileBytes(programIni(), bytes);
    FreeIni();
    LoadIni();
  }

  TempFolder temp_;
};
