// Parses a message part of about one mebi-character with many thousands of keys, saved in the
// ANSI code page and as UTF-16, and looks up every key. Prints the best of several runs.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "localisation/langfile.h"
#include "localisation/messages.h"

namespace {

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

}  // namespace

int main() {
  const size_t kTargetUnits = 1000000;
  std::string text = "***messages***\r\n:STRINGS\r\n";
  std::vector<std::string> keys;
  char line[160];
  for (unsigned i = 0; text.size() < kTargetUnits - 200; i++) {
    // Keys in an order unlike their sorted order, so the sort does real work.
    unsigned n = (i * 2654435761u) % 100000000u;
    snprintf(line, sizeof line, "IDS_KEY_%08u \"Message %u: some words of text, \\\"quoted\\\".\"\r\n", n, i);
    text += line;
    snprintf(line, sizeof line, "s:IDS_KEY_%08u", n);
    keys.push_back(line);
  }
  std::string wide;
  for (char ch : text) {
    wide += ch;
    wide += '\0';
  }

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring ansiPath = std::wstring(temp) + L"obxbench_ansi.lng";
  std::wstring widePath = std::wstring(temp) + L"obxbench_utf16.lng";
  if (!WriteBytes(ansiPath, text) || !WriteBytes(widePath, wide)) {
    printf("cannot write the benchmark files\n");
    return 1;
  }
  printf("message part: %zu characters, %zu keys\n", text.size(), keys.size());

  const int kRuns = 5;
  struct Case {
    const char* name;
    const std::wstring* path;
    size_t bytes;
  } cases[] = {{"ANSI", &ansiPath, text.size()}, {"UTF-16", &widePath, wide.size()}};
  int failures = 0;
  for (const Case& c : cases) {
    double bestParse = 1e9, bestLookup = 1e9;
    for (int run = 0; run < kRuns; run++) {
      languageFile.Clear();
      double start = Now();
      ParseLanguageFile(c.path->c_str());
      double parsed = Now();
      wchar_t out[kMessageSize];
      unsigned found = 0;
      for (const std::string& key : keys) found += LookupText(key.c_str(), out, kMessageSize);
      double looked = Now();
      if (found != keys.size() || languageFile.entries.count != keys.size()) failures++;
      bestParse = std::min(bestParse, parsed - start);
      bestLookup = std::min(bestLookup, looked - parsed);
    }
    printf("%-7s file %5.2f MiB: parse %7.1f ms (%6.1f MiB/s), %zu lookups %6.1f ms (%5.0f ns each)\n",
           c.name, c.bytes / 1048576.0, bestParse * 1e3, c.bytes / 1048576.0 / bestParse,
           keys.size(), bestLookup * 1e3, bestLookup * 1e9 / keys.size());
  }
  languageFile.Clear();
  DeleteFileW(ansiPath.c_str());
  DeleteFileW(widePath.c_str());
  if (failures) printf("FAILED: %d runs lost keys\n", failures);
  return failures ? 1 : 0;
}
