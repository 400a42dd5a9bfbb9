#include "common/lookup_table.h"

#include <gtest/gtest.h>

#include <string>

TEST(LookupTable, KeysAreCaseSensitiveAndKeepTheirPlace) {
  QvLookupTable table;
  EXPECT_TRUE(table.Insert("A", "1"));
  EXPECT_TRUE(table.Insert("a", "2"));
  EXPECT_TRUE(table.Insert("B", "3"));
  EXPECT_TRUE(table.Insert("A", "changed"));
  EXPECT_EQ(table.GetCount(), 3);
  EXPECT_EQ(table.hasTag("A"), 0);
  EXPECT_EQ(table.hasTag("a"), 1);
  EXPECT_STREQ(table.GetValue("A"), "changed");
  EXPECT_STREQ(table.GetValue("a"), "2");
}

TEST(LookupTable, AbsentTagsAndNulls) {
  QvLookupTable table;
  table.Insert("empty", "");
  EXPECT_STREQ(table.GetValue("missing"), "");
  EXPECT_STREQ(table.GetValue("empty"), "");
  EXPECT_EQ(table.hasTag("missing"), -1);
  EXPECT_EQ(table.hasTag("empty"), 0);
  EXPECT_FALSE(table.Insert("empty", nullptr));
  EXPECT_FALSE(table.Insert(nullptr, "x"));
  EXPECT_EQ(table.GetCount(), 1);
  EXPECT_EQ(table.hasTag(nullptr), -1);
}

TEST(LookupTable, GrowsInStepsOfTenKeepingOrderAndValues) {
  QvLookupTable table;
  for (int i = 0; i < 21; ++i) {
    if (i == 10) {
      EXPECT_EQ(table.GetCapacity(), 10);
    }
    if (i == 11) {
      EXPECT_EQ(table.GetCapacity(), 20);
    }
    table.Insert(("t" + std::to_string(i)).c_str(), std::to_string(i * i).c_str());
  }
  EXPECT_EQ(table.GetCapacity(), 30);
  for (int i = 0; i < 21; ++i) {
    ASSERT_EQ(table.hasTag(("t" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(table.GetValue(("t" + std::to_string(i)).c_str()), std::to_string(i * i));
  }

  QvLookupTable from_zero(0);
  from_zero.Insert("x", "y");
  EXPECT_EQ(from_zero.GetCapacity(), 10);
  QvLookupTable from_three(3);
  for (const char* tag : {"a", "b", "c", "d"}) from_three.Insert(tag, tag);
  EXPECT_EQ(from_three.GetCapacity(), 13);

  table.Clear();
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_EQ(table.GetCapacity(), 10);
  EXPECT_STREQ(table.GetValue("t1"), "");
}

TEST(LookupTable, MaxValueLength) {
  QvLookupTable table;
  EXPECT_EQ(table.GetMaxValueLenth(), 0);
  table.Insert("a", "");
  table.Insert("b", "abc");
  table.Insert("c", "ab");
  EXPECT_EQ(table.GetMaxValueLenth(), 3);
}

TEST(LookupTable, CopyIntoABufferIsBoundedAndTerminated) {
  QvLookupTable table;
  table.Insert("k", "abcdef");
  char buffer[4] = {'x', 'x', 'x', 'x'};
  table.GetValue("missing", buffer, sizeof buffer);
  EXPECT_EQ(buffer[0], 'x');
  table.GetValue("k", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "abc");
  char wide[10];
  table.GetValue("k", wide, sizeof wide);
  EXPECT_EQ(std::string(wide, sizeof wide), std::string("abcdef\0\0\0\0", 10));
}
