// Array growth, size changes, release and the size limit.
#include <gtest/gtest.h>

#include <climits>

#include "base/array.h"
#include "base/errors.h"

namespace {

using ArrayTest = ::testing::Test;

// Runs an Add and returns the code it threw, or -1 when it returned.
template <typename T>
int ThrownByAdd(Array<T>& array, unsigned n) {
  try {
    array.Add(n);
  } catch (OBX_EXIT code) {
    return code;
  }
  return -1;
}

}  // namespace

TEST_F(ArrayTest, GrowsByAQuarterPlus32OrToTheRequestedCount) {
  Array<int> pushed;
  EXPECT_EQ(pushed.data, nullptr);
  pushed.Push(0);
  EXPECT_EQ(pushed.capacity, 32u);
  for (int i = 1; i < 32; i++) pushed.Push(i);
  EXPECT_EQ(pushed.capacity, 32u);
  pushed.Push(32);
  EXPECT_EQ(pushed.capacity, 72u);  // 32 + 8 + 32
  pushed.Add(72 - 33 + 1);
  EXPECT_EQ(pushed.capacity, 122u);  // 72 + 18 + 32
  EXPECT_EQ(pushed.count, 73u);
  for (int i = 0; i <= 32; i++) ASSERT_EQ(pushed[i], i);  // contents survive reallocation

  Array<wchar_t> large;
  large.Add(100);
  EXPECT_EQ(large.capacity, 100u);
  EXPECT_EQ(large.count, 100u);

  Array<unsigned char> constructed(5);
  EXPECT_EQ(constructed.count, 5u);
  EXPECT_EQ(constructed.capacity, 32u);
  EXPECT_EQ(constructed.maxSize, 0u);
}

TEST_F(ArrayTest, PushOfOwnElementSurvivesTheGrowthItCauses) {
  // Large enough for the heap to give the old block back to the system when it moves, so that
  // reading the item from there afterwards would fault rather than find stale data.
  Array<unsigned> array;
  array.Add(1u << 20);
  ASSERT_EQ(array.count, array.capacity);
  for (unsigned i = 0; i < array.count; i++) array[i] = 1000 + i;
  array.Push(array[5]);
  EXPECT_EQ(array[1u << 20], 1005u);
  EXPECT_EQ(array[(1u << 20) - 1], 1000 + (1u << 20) - 1);
}

TEST_F(ArrayTest, SetSizeKeepsStorageWhenShrinkingAndGrowsPastCapacity) {
  Array<int> array;
  array.Add(50);
  int* block = array.data;
  unsigned capacity = array.capacity;
  array.SetSize(10);
  EXPECT_EQ(array.count, 10u);
  EXPECT_EQ(array.data, block);
  EXPECT_EQ(array.capacity, capacity);
  array.SetSize(capacity);  // within the allocation
  EXPECT_EQ(array.count, capacity);
  EXPECT_EQ(array.data, block);
  array.SetSize(capacity + 1);
  EXPECT_EQ(array.count, capacity + 1);
  EXPECT_GE(array.capacity, capacity + 1);
}

TEST_F(ArrayTest, ResetReleasesStorageButKeepsTheLimit) {
  Array<int> array;
  array.maxSize = 500;
  array.Add(40);
  array.Reset();
  EXPECT_EQ(array.data, nullptr);
  EXPECT_EQ(array.count, 0u);
  EXPECT_EQ(array.capacity, 0u);
  EXPECT_EQ(array.maxSize, 500u);
  array.Push(7);
  EXPECT_EQ(array.capacity, 32u);
  EXPECT_EQ(array[0], 7);
}

TEST_F(ArrayTest, ExceedingMaxSizeThrowsOutOfMemory) {
  Array<int> array;
  array.maxSize = 40;
  EXPECT_EQ(ThrownByAdd(array, 40), -1);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_SUCCESS);
  array.Reset();
  EXPECT_EQ(ThrownByAdd(array, 41), OBX_EXIT_MEMORY);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_MEMORY);
  EXPECT_EQ(errorHandler.errorCount, 2u);  // the memory report and the throw
  EXPECT_EQ(array.data, nullptr);
}

TEST_F(ArrayTest, CountThatWouldWrapAroundThrowsInsteadOfShrinking) {
  Array<int> array;
  array.Add(10);
  EXPECT_EQ(ThrownByAdd(array, UINT_MAX - 5), OBX_EXIT_MEMORY);
  EXPECT_EQ(array.count, 10u);
  EXPECT_EQ(array.capacity, 32u);
  EXPECT_EQ(errorHandler.exitCode, OBX_EXIT_MEMORY);
}
