// The run's log: created new, never over what stands at its name, one UTF-8 line per call.
#include "filesystem/log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "testenv.h"

namespace {

// Everything after the time of day ("hh:mm:ss.mmm ") of each line.
std::string LinesWithoutTime(const std::string& log) {
  std::string out;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find("\r\n", at);
    if (end == std::string::npos) end = log.size();
    out += log.substr(at + 13, end - at - 13) + "|";
    at = end + 2;
  }
  return out;
}

TEST(RunLog, WritesUtf8LinesWithTheirOutcomeAndKeepsTheLastError) {
  TempFolder temp;
  std::wstring path = temp / L"run.log";
  LogLine(L"before the log");  // goes nowhere
  ASSERT_TRUE(OpenRunLog(path.c_str()));
  SetLastError(1234);
  LogLine(L"command line: %s", L"/S \x00E9\x4E2D");
  LogStep(ERROR_SUCCESS, L"delete file %s", L"C:\\a");
  LogStep(ERROR_ACCESS_DENIED, L"registry set %s", L"HKLM\\x");
  EXPECT_EQ(GetLastError(), 1234u);
  CloseRunLog();
  LogLine(L"after the log");
  std::string log = ReadFileBytes(path);
  ASSERT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(log[5], ':');
  EXPECT_EQ(LinesWithoutTime(log.substr(3)),
            "command line: /S \xC3\xA9\xE4\xB8\xAD|delete file C:\\a: done|"
            "registry set HKLM\\x: error 5|");
}

TEST(RunLog, NeverWritesOverWhatStandsAtItsName) {
  TempFolder temp;
  std::wstring path = temp / L"run.log";
  WriteFileBytes(path, "earlier");
  EXPECT_FALSE(OpenRunLog(path.c_str()));
  LogLine(L"nothing");
  EXPECT_EQ(ReadFileBytes(path), "earlier");
  ASSERT_TRUE(CreateDirectoryW((temp / L"folder").c_str(), nullptr));
  EXPECT_FALSE(OpenRunLog((temp / L"folder").c_str()));
}

// Without a name: the first free "Ombrix log <date> #<n>.txt" in the temp folder.
TEST(RunLog, WithoutANameTakesTheNextFreeNumberInTheTempFolder) {
  TempFolder temp;
  wchar_t saved[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", temp.path().c_str());
  SYSTEMTIME today;
  GetLocalTime(&today);
  wchar_t first[MAX_PATH], second[MAX_PATH];
  swprintf(first, MAX_PATH, L"%ls\\Ombrix log %04u-%02u-%02u #001.txt", temp.path().c_str(),
           today.wYear, today.wMonth, today.wDay);
  swprintf(second, MAX_PATH, L"%ls\\Ombrix log %04u-%02u-%02u #002.txt", temp.path().c_str(),
           today.wYear, today.wMonth, today.wDay);
  WriteFileBytes(first, "another run's");
  bool opened = OpenRunLog(L"");
  CloseRunLog();
  SetEnvironmentVariableW(L"TMP", saved[0] ? saved : nullptr);
  ASSERT_TRUE(opened);
  EXPECT_EQ(ReadFileBytes(first), "another run's");
  EXPECT_EQ(ReadFileBytes(second), "\xEF\xBB\xBF");
}

}  // namespace
