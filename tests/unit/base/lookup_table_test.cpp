#include "base/lookup_table.h"

#include <gtest/gtest.h>

#include <string>

TEST(LookupTable, KeysAreCaseSensitiveKeepTheirPlaceAndRefuseNulls) {
  QvLookupTable table;
  for (auto [tag, value] :
       {std::pair{"A", "1"}, {"a", "2"}, {"B", "abc"}, {"A", "ab"}, {"e", ""}}) {
    EXPECT_TRUE(table.Insert(tag, value));
  }
  EXPECT_FALSE(table.Insert("e", nullptr));
  EXPECT_FALSE(table.Insert(nullptr, "x"));
  EXPECT_EQ(table.GetCount(), 4);
  EXPECT_EQ(table.hasTag("a"), 1);
  EXPECT_EQ(table.hasTag("e"), 3);
  EXPECT_EQ(table.hasTag("missing"), -1);
  EXPECT_EQ(table.hasTag(nullptr), -1);
  EXPECT_STREQ(table.GetValue("A"), "ab");
  EXPECT_STREQ(table.GetValue("missing"), "");
  EXPECT_EQ(table.GetMaxValueLenth(), 3);
}

TEST(LookupTable, GrowsKeepingOrderAndValuesAndClears) {
  QvLookupTable table, from_zero(0);
  auto tag = [](int i) { return "t" + std::to_string(i); };
  for (int i = 0; i < 21; ++i) table.Insert(tag(i).c_str(), std::to_string(i * i).c_str());
  for (int i = 0; i < 21; ++i) {
    ASSERT_EQ(table.hasTag(tag(i).c_str()), i);
    EXPECT_EQ(table.GetValue(tag(i).c_str()), std::to_string(i * i));
  }
  from_zero.Insert("x", "y");
  EXPECT_STREQ(from_zero.GetValue("x"), "y");
  table.Clear();
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_STREQ(table.GetValue("t1"), "");
  table.Insert("again", "1");
  EXPECT_EQ(table.hasTag("again"), 0);
}

TEST(LookupTable, CopyIntoABufferIsBoundedAndPadded) {
  QvLookupTable table;
  table.Insert("k", "abcdef");
  char small[4] = {'x', 'x', 'x', 'x'};
  table.GetValue("missing", small, sizeof small);
  EXPECT_EQ(small[0], 'x');
  table.GetValue("k", small, sizeof small);
  EXPECT_STREQ(small, "abc");
  char wide[10];
  table.GetValue("k", wide, sizeof wide);
  EXPECT_EQ(std::string(wide, sizeof wide), std::string("abcdef\0\0\0\0", 10));
}
