// Array growth, size changes, release and the size limit.
#include <gtest/gtest.h>

#include <climits>

#include "base/array.h"

namespace {

using ArrayTest = ::testing::Test;

}  // namespace

TEST_F(ArrayTest, GrowsByAQuarterPlus32OrToTheRequestedCount) {
  Array<int> pushed;
  EXPECT_EQ(pushed.data, nullptr);
  ASSERT_TRUE(pushed.Push(0));
  EXPECT_EQ(pushed.capacity, 32u);
  for (int i = 1; i < 32; i++) ASSERT_TRUE(pushed.Push(i));
  EXPECT_EQ(pushed.capacity, 32u);
  ASSERT_TRUE(pushed.Push(32));
  EXPECT_EQ(pushed.capacity, 72u);  // 32 + 8 + 32
  ASSERT_TRUE(pushed.Add(72 - 33 + 1));
  EXPECT_EQ(pushed.capacity, 122u);  // 72 + 18 + 32
  EXPECT_EQ(pushed.count, 73u);
  for (int i = 0; i <= 32; i++) ASSERT_EQ(pushed[i], i);  // contents survive reallocation

  Array<wchar_t> large;
  ASSERT_TRUE(large.Add(100));
  EXPECT_EQ(large.capacity, 100u);
  EXPECT_EQ(large.count, 100u);

}

TEST_F(ArrayTest, PushOfOwnElementSurvivesTheGrowthItCauses) {
  // Large enough for the heap to give the old block back to the system when it moves, so that
  // reading the item from there afterwards would fault rather than find stale data.
  Array<unsigned> array;
  ASSERT_TRUE(array.Add(1u << 20));
  ASSERT_EQ(array.count, array.capacity);
  for (unsigned i = 0; i < array.count; i++) array[i] = 1000 + i;
  ASSERT_TRUE(array.Push(array[5]));
  EXPECT_EQ(array[1u << 20], 1005u);
  EXPECT_EQ(array[(1u << 20) - 1], 1000 + (1u << 20) - 1);
}

TEST_F(ArrayTest, SetSizeKeepsStorageWhenShrinkingAndGrowsPastCapacity) {
  Array<int> array;
  ASSERT_TRUE(array.Add(50));
  int* block = array.data;
  unsigned capacity = array.capacity;
  ASSERT_TRUE(array.SetSize(10));
  EXPECT_EQ(array.count, 10u);
  EXPECT_EQ(array.data, block);
  EXPECT_EQ(array.capacity, capacity);
  ASSERT_TRUE(array.SetSize(capacity));  // within the allocation
  EXPECT_EQ(array.count, capacity);
  EXPECT_EQ(array.data, block);
  ASSERT_TRUE(array.SetSize(capacity + 1));
  EXPECT_EQ(array.count, capacity + 1);
  EXPECT_GE(array.capacity, capacity + 1);
}

TEST_F(ArrayTest, ResetReleasesStorageButKeepsTheLimit) {
  Array<int> array;
  array.maxSize = 500;
  ASSERT_TRUE(array.Add(40));
  array.Reset();
  EXPECT_EQ(array.data, nullptr);
  EXPECT_EQ(array.count, 0u);
  EXPECT_EQ(array.capacity, 0u);
  EXPECT_EQ(array.maxSize, 500u);
  ASSERT_TRUE(array.Push(7));
  EXPECT_EQ(array.capacity, 32u);
  EXPECT_EQ(array[0], 7);
}

// A growth that cannot be had is the caller's to handle: the array stays exactly as it was.
TEST_F(ArrayTest, GrowthPastTheLimitOrWrappingAroundFailsAndChangesNothing) {
  Array<int> array;
  array.maxSize = 40;
  EXPECT_FALSE(array.SetSize(41));
  EXPECT_EQ(array.data, nullptr);
  ASSERT_TRUE(array.Add(40));
  EXPECT_FALSE(array.Push(1));
  EXPECT_EQ(array.count, 40u);
  EXPECT_EQ(array.capacity, 40u);
  array.maxSize = 0;
  EXPECT_FALSE(array.Add(UINT_MAX - 5));
  EXPECT_EQ(array.count, 40u);
  EXPECT_EQ(array.capacity, 40u);
  array.Cut(50);  // never grows
  EXPECT_EQ(array.count, 40u);
}
