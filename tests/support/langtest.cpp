#include "langtest.h"

#include <windows.h>

#include "localisation/langfile.h"
#include "localisation/messages.h"

std::string AnsiBytes(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n,
                      nullptr, nullptr);
  return bytes;
}

std::string Utf16Bytes(const std::wstring& text, bool byteOrderMark) {
  std::string bytes = byteOrderMark ? std::string("\xFF\xFE") : std::string();
  for (wchar_t ch : text) {
    bytes += static_cast<char>(ch & 0xFF);
    bytes += static_cast<char>((ch >> 8) & 0xFF);
  }
  return bytes;
}

std::wstring TestProgramFolder() {
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring SampleLanguagePath(const std::wstring& relative) {
  return TestProgramFolder() + L"lang\\" + relative;
}

void ParseMessages(const std::wstring& text) { ParseMessageText(text.c_str(), text.size()); }

std::wstring EntryText(const char* key) {
  static wchar_t text[kLanguageValueUnits + 1];
  if (!LookupText(key, text, kLanguageValueUnits + 1)) return L"<missing>";
  return text;
}
