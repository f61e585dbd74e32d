// Strings kept back to back and read back in order.
#include <gtest/gtest.h>

#include <string>

#include "base/stringlist.h"

TEST(StringList, YieldsStringsInOrderWithNullAsEmptyThenFalse) {
  StringList list;
  ASSERT_TRUE(list.AddString(L"a"));
  ASSERT_TRUE(list.AddString(nullptr));
  ASSERT_TRUE(list.AddString(L"bc"));
  EXPECT_EQ(list.stringCount, 3u);
  EXPECT_EQ(list.data.count, 6u);

  const wchar_t* s = nullptr;
  ASSERT_TRUE(list.GetString(&s));
  EXPECT_STREQ(s, L"a");
  ASSERT_TRUE(list.GetString(&s));
  EXPECT_STREQ(s, L"");
  ASSERT_TRUE(list.GetString(&s));
  EXPECT_STREQ(s, L"bc");
  EXPECT_FALSE(list.GetString(&s));
  EXPECT_EQ(s, nullptr);
  EXPECT_FALSE(list.GetString(&s));
}

TEST(StringList, ReadingWithoutOutputAdvancesAndResetStartsAfresh) {
  StringList list;
  ASSERT_TRUE(list.AddString(L"skip"));
  ASSERT_TRUE(list.AddString(L"keep"));
  EXPECT_TRUE(list.GetString());
  const wchar_t* kept = nullptr;
  ASSERT_TRUE(list.GetString(&kept));
  EXPECT_STREQ(kept, L"keep");
  list.Reset();
  EXPECT_EQ(list.stringCount, 0u);
  EXPECT_EQ(list.readPos, 0u);
  EXPECT_EQ(list.data.data, nullptr);
  EXPECT_FALSE(list.GetString());
  ASSERT_TRUE(list.AddString(L"new"));
  const wchar_t* s = nullptr;
  ASSERT_TRUE(list.GetString(&s));
  EXPECT_STREQ(s, L"new");
}

TEST(StringList, ManyStringsSurviveGrowth) {
  StringList list;
  for (int i = 0; i < 2000; i++) ASSERT_TRUE(list.AddString(std::to_wstring(i * 7919).c_str()));
  EXPECT_EQ(list.stringCount, 2000u);
  const wchar_t* s = nullptr;
  for (int i = 0; i < 2000; i++) {
    ASSERT_TRUE(list.GetString(&s));
    ASSERT_EQ(std::wstring(s), std::to_wstring(i * 7919));
  }
  EXPECT_FALSE(list.GetString(&s));
}

TEST(StringList, AddingAStringReadFromTheSameListCopiesItBeforeGrowth) {
  StringList list;
  // Fills the first block exactly; large enough that a moved block goes back to the system, so
  // that copying from the old place would fault rather than find stale text.
  std::wstring first((1u << 20) - 1, L'q');
  ASSERT_TRUE(list.AddString(first.c_str()));
  ASSERT_EQ(list.data.count, list.data.capacity);
  const wchar_t* s = nullptr;
  ASSERT_TRUE(list.GetString(&s));
  ASSERT_TRUE(list.AddString(s));
  ASSERT_TRUE(list.GetString(&s));  // the copy, which the next growth moves as well
  ASSERT_TRUE(list.AddString(s));
  list.readPos = 0;
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(list.GetString(&s));
    EXPECT_EQ(std::wstring(s), first);
  }
}
