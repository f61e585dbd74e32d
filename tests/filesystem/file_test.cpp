// The file object: sharing, the trailing-dot create, split reads, failures told by results and
// the clean-up of unfinished files.
#include "filesystem/file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "importpatch.h"
#include "testenv.h"

namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, 0);
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<char>(i * 7 + i / 256);
  return bytes;
}

class FileTest : public ::testing::Test {
 protected:
  TempFolder temp;
};

}  // namespace

TEST_F(FileTest, CreateWriteCloseOpenAndReadBack) {
  std::wstring path = temp / L"data.bin";
  {
    File file;
    ASSERT_TRUE(file.Create(path.c_str(), 0));
    EXPECT_TRUE(file.created);
    EXPECT_TRUE(file.Write("hello ", 6));
    EXPECT_TRUE(file.Write("world", 5));
    EXPECT_TRUE(file.Write(nullptr, 0));
    EXPECT_EQ(file.FileLength(), 11);
    EXPECT_EQ(file.Tell(), 11);  // the length query leaves the position
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.IsOpened());
    EXPECT_TRUE(file.Close());
  }
  EXPECT_EQ(ReadFileBytes(path), "hello world");

  File file;
  ASSERT_TRUE(file.Open(path.c_str(), 0));
  EXPECT_FALSE(file.created);
  EXPECT_EQ(std::wstring(file.name), path);
  char buffer[32] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 11);
  EXPECT_STREQ(buffer, "hello world");
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(file.lastError, File::kNoError);
}

TEST_F(FileTest, NameEndingInADotIsCreatedThroughTheLongForm) {
  std::wstring dotted = temp / L"settings.";
  {
    File file;
    ASSERT_TRUE(file.Create(dotted.c_str(), 0));
    EXPECT_EQ(std::wstring(file.name), dotted);
    EXPECT_TRUE(file.Close());
  }
  EXPECT_NE(GetFileAttributesW((L"\\\\?\\" + dotted).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW((temp / L"settings").c_str()), INVALID_FILE_ATTRIBUTES);

  // With the permission bit the plain call runs, and Windows drops the dot.
  std::wstring allowed = temp / L"plain.";
  File file;
  ASSERT_TRUE(file.Create(allowed.c_str(), File::kCreateAllowTrailingDot));
  EXPECT_TRUE(file.Close());
  EXPECT_NE(GetFileAttributesW((temp / L"plain").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileTest, OpenSetsNotFoundOnlyForAMissingFile) {
  File file;
  EXPECT_FALSE(file.Open((temp / L"missing.txt").c_str(), 0));
  EXPECT_EQ(file.lastError, File::kNotFound);
  EXPECT_FALSE(file.IsOpened());

  // Held open without sharing: a failure, but not a missing file.
  std::wstring locked = temp / L"locked.txt";
  WriteFileBytes(locked, "x");
  HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(file.Open(locked.c_str(), 0));
  EXPECT_EQ(file.lastError, File::kNoError);
  CloseHandle(holder);
}

TEST_F(FileTest, OpenSharesWritingOnlyWhenAsked) {
  std::wstring path = temp / L"shared.txt";
  WriteFileBytes(path, "x");
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  File reader;
  EXPECT_FALSE(reader.Open(path.c_str(), 0));
  EXPECT_TRUE(reader.Open(path.c_str(), File::kOpenShareWrite));
  reader.Close();
  CloseHandle(writer);
}

TEST_F(FileTest, DestroyingAnUnclosedCreatedFileDeletesIt) {
  std::wstring abandoned = temp / L"abandoned.ini";
  std::wstring finished = temp / L"finished.ini";
  std::wstring opened = temp / L"opened.ini";
  WriteFileBytes(opened, "keep");
  {
    File file;
    ASSERT_TRUE(file.Create(abandoned.c_str(), 0x11));
    ASSERT_TRUE(file.Write("half", 4));
  }
  {
    File file;
    ASSERT_TRUE(file.Create(finished.c_str(), 0x11));
    ASSERT_TRUE(file.Write("whole", 5));
    ASSERT_TRUE(file.Close());
  }
  {
    File file;
    ASSERT_TRUE(file.Open(opened.c_str(), 0));
  }
  EXPECT_EQ(GetFileAttributesW(abandoned.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadFileBytes(finished), "whole");
  EXPECT_EQ(ReadFileBytes(opened), "keep");
}

TEST_F(FileTest, SeekFromTheEndAndTheCurrentPosition) {
  std::wstring path = temp / L"digits.txt";
  WriteFileBytes(path, "0123456789");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), 0));
  char pair[3] = {};

  ASSERT_TRUE(file.Seek(-2, FILE_END));
  EXPECT_EQ(file.Tell(), 8);
  EXPECT_EQ(file.Read(pair, 2), 2);
  EXPECT_STREQ(pair, "89");

  ASSERT_TRUE(file.Seek(-5, FILE_CURRENT));
  EXPECT_EQ(file.Tell(), 5);
  ASSERT_TRUE(file.Seek(1, FILE_CURRENT));
  EXPECT_EQ(file.Read(pair, 2), 2);
  EXPECT_STREQ(pair, "67");
  ASSERT_TRUE(file.Seek(3, FILE_BEGIN));
  EXPECT_EQ(file.Read(pair, 2), 2);
  EXPECT_STREQ(pair, "34");

  // Before the start: refused, the position stays.
  EXPECT_FALSE(file.Seek(-20, FILE_END));
  EXPECT_EQ(file.Tell(), 5);
  EXPECT_EQ(file.FileLength(), 10);
}

TEST_F(FileTest, ClosedObjectSeeksQuietlyButCannotTell) {
  File file;
  EXPECT_TRUE(file.Seek(5, FILE_BEGIN));
  EXPECT_EQ(file.Tell(), -1);
  EXPECT_TRUE(file.Close());
}

// A failed read is not retried: reading stops for good.
TEST_F(FileTest, ReadFailureStopsReading) {
  std::wstring path = temp / L"writeonly.bin";
  File file;
  ASSERT_TRUE(file.Create(path.c_str(), File::kCreateWriteOnly));
  ASSERT_TRUE(file.Write("abc", 3));
  ASSERT_TRUE(file.Seek(0, FILE_BEGIN));
  char buffer[8];

  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
  EXPECT_TRUE(file.readStopped);
  EXPECT_EQ(file.lastError, File::kReadFailed);
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
  EXPECT_TRUE(file.Close());

  // Opening again starts reading afresh.
  ASSERT_TRUE(file.Open(path.c_str(), 0));
  EXPECT_FALSE(file.readStopped);
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 3);
}

TEST_F(FileTest, LockedRegionReadIsRetriedAs32KiB) {
  std::wstring path = temp / L"big.bin";
  std::string content = Pattern(100000);
  WriteFileBytes(path, content);
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), 0));
  std::vector<char> buffer(65536);
  {
    ReadRefusal refusal(32768, ERROR_LOCK_VIOLATION);
    EXPECT_EQ(file.Read(buffer.data(), 65536), 32768);
    EXPECT_EQ(refusal.requests, (std::vector<DWORD>{65536, 32768}));
  }
  EXPECT_EQ(std::string(buffer.data(), 32768), content.substr(0, 32768));
  EXPECT_FALSE(file.readStopped);
}

// Only a lock on a read above 32 KiB is split; anything else fails the read at once.
TEST_F(FileTest, OtherRefusalsAreNotSplit) {
  std::wstring path = temp / L"big.bin";
  WriteFileBytes(path, Pattern(100000));
  std::vector<char> buffer(65536);
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), 0));
  {
    ReadRefusal refusal(32768, ERROR_ACCESS_DENIED);
    EXPECT_EQ(file.Read(buffer.data(), 65536), 0);
    EXPECT_EQ(refusal.requests, (std::vector<DWORD>{65536}));
  }
  ASSERT_TRUE(file.Open(path.c_str(), 0));
  ReadRefusal refusal(20000, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(file.Read(buffer.data(), 32768), 0);
  EXPECT_EQ(refusal.requests, (std::vector<DWORD>{32768}));
  EXPECT_EQ(file.lastError, File::kReadFailed);
}

// A write is never retried: one attempt, then false.
TEST_F(FileTest, WriteFailureIsNotRetried) {
  std::wstring path = temp / L"readonly.txt";
  WriteFileBytes(path, "abc");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), 0));
  EXPECT_FALSE(file.Write("xyz", 3));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadFileBytes(path), "abc");
}

TEST_F(FileTest, FailedCloseIsFalseAndTheObjectClosed) {
  std::wstring path = temp / L"x.txt";
  File file;
  ASSERT_TRUE(file.Create(path.c_str(), 0));
  ScopedHandle real(file.handle.release());
  file.handle.reset(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7ff0)));  // no such handle
  EXPECT_FALSE(file.Close());
  EXPECT_FALSE(file.IsOpened());
}
