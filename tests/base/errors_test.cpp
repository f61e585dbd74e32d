// The error handler's recorded codes and its answers.
#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"

namespace {

using ErrorHandlerTest = ::testing::Test;

}  // namespace

TEST_F(ErrorHandlerTest, FatalCodeDoesNotReplaceAnEarlierSpecificCode) {
  SetErrorCode(OBX_EXIT_READ);
  SetErrorCode(OBX_EXIT_FATAL);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_READ);
  EXPECT_EQ(errorHandler.errorCount, 2u);

  errorHandler = ErrorHandler();
  SetErrorCode(OBX_EXIT_FATAL);
  SetErrorCode(OBX_EXIT_READ);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_READ);
  EXPECT_EQ(errorHandler.errorCount, 2u);

  // 1 counts as no error yet; other codes always replace.
  errorHandler.exitCode = static_cast<OBX_EXIT>(1);
  SetErrorCode(OBX_EXIT_FATAL);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_FATAL);
  SetErrorCode(OBX_EXIT_MEMORY);
  SetErrorCode(OBX_EXIT_READ);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_READ);
  EXPECT_EQ(errorHandler.errorCount, 5u);
}

// MemoryError ends the process: tests/build/memory_check.cpp runs it.
TEST_F(ErrorHandlerTest, ReportMemoryErrorRecordsEight) {
  ReportMemoryError();
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_MEMORY);
  EXPECT_EQ(errorHandler.errorCount, 1u);
}

TEST_F(ErrorHandlerTest, FileReportsChangeOnlyTheCodesTheyOwn) {
  SeekError(L"a.bin");
  WriteLimitError(L"a.bin");
  ErrorText(L"%s: %u", std::wstring(3000, L'x').c_str(), 5u);  // longer than its buffer
  ReportMessage(99, L"x");
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_SUCCESS);
  EXPECT_EQ(errorHandler.errorCount, 0u);

  CloseError(L"a.bin");
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_FATAL);
  EXPECT_EQ(errorHandler.errorCount, 1u);
}

TEST_F(ErrorHandlerTest, ReadErrorAnswersQuitAndWriteErrorNeverRetries) {
  RetryAnswer answer;
  AskRetryRead(L"Uninstall.lst", answer);
  EXPECT_TRUE(answer.quit);
  EXPECT_FALSE(answer.retry);
  EXPECT_FALSE(answer.ignore);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_READ);
  EXPECT_EQ(errorHandler.errorCount, 1u);

  EXPECT_FALSE(AskRetryWrite(L"Uninstall.lst"));
  EXPECT_EQ(errorHandler.errorCount, 1u);
}
