// Shared by the settings tests: an ini search pointed at a temp folder, the store's entries as
// plain values for comparing, and seeded damage for the readers.
#pragma once

#include <gtest/gtest.h>

#include <random>
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

// Seeded damage for the readers: ini files in each encoding the reader knows, with every kind
// of line it meets, and what a few random steps of damage make of one.
inline std::string Utf16(const std::wstring& text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t ch : text) {
    char low = static_cast<char>(ch & 0xFF), high = static_cast<char>(ch >> 8);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

inline std::vector<std::string> Seeds() {
  const std::wstring text =
      L"; comment\r\n[Section]\r\nHKCU\\Setup\\Links\\Desktop=1\r\n"
      L"HKCU\\Setup\\MenuItems\\AlwaysArc=\"*.iso;*.img\"\r\nData=bin:00ff10\r\n"
      L"Name=\u00E9t\u00E9 \u4E2D\u6587 \U0001F600\r\n  indented=1\r\n1digit=2\r\nnoequals\r\n"
      L"Global\\Integration=0\r\nKey = spaced value \t\r\nOpen=\"abc\r\n\r\n\r\nLast=end";
  std::string ansi;
  for (wchar_t ch : text) ansi += ch < 0x80 ? static_cast<char>(ch) : '\xE9';
  std::string utf8 = "\xEF\xBB\xBF";
  char buffer[1024];
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), buffer,
                              sizeof buffer, nullptr, nullptr);
  utf8.append(buffer, n);
  return {Utf16(text, false), Utf16(text, true), utf8, utf8.substr(3), ansi};
}

inline std::string Mutate(std::string bytes, std::mt19937& random) {
  auto pick = [&random](size_t n) { return n ? static_cast<size_t>(random() % n) : 0; };
  int steps = 1 + static_cast<int>(random() % 4);
  for (int i = 0; i < steps; i++) {
    switch (random() % 9) {
      case 0:  // flip a byte
        if (!bytes.empty()) bytes[pick(bytes.size())] ^= static_cast<char>(1 + random() % 255);
        break;
      case 1:  // a NUL byte
        bytes.insert(pick(bytes.size() + 1), 1, '\0');
        break;
      case 2:  // odd or short length
        bytes.resize(pick(bytes.size() + 1));
        break;
      case 3:  // a broken or foreign mark
      {
        static const std::string marks = "\xEF\xBB\xBF\xFF\xFE\xFE\xFF";
        size_t from = random() % 5, count = 1 + random() % 3;
        bytes.replace(0, random() % 4, marks.substr(from, count));
      }
        break;
      case 4:  // a giant line
        bytes.insert(pick(bytes.size() + 1), 20000 + random() % 50000,
                     static_cast<char>(random()));
        break;
      case 5:  // lone CR, LF or quote runs
        bytes.insert(pick(bytes.size() + 1), 1 + random() % 6, "\r\n\"= \t"[random() % 6]);
        break;
      case 6:  // a slice copied elsewhere
        if (!bytes.empty()) {
          size_t from = pick(bytes.size());
          std::string slice = bytes.substr(from, random() % 64);
          bytes.insert(pick(bytes.size() + 1), slice);
        }
        break;
      case 7:  // high bytes that look like UTF-8 leads or continuations
        bytes.insert(pick(bytes.size() + 1), 1, "\x80\xC3\xE4\xF0\xF8\xFC\xFE\xBF"[random() % 8]);
        break;
      default:  // random garbage
        for (int k = random() % 32; k > 0; k--)
          bytes.insert(pick(bytes.size() + 1), 1, static_cast<char>(random()));
        break;
    }
  }
  return bytes;
}
