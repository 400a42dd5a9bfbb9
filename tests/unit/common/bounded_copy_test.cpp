#include "common/bounded_copy.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(BoundedCopy, CutsAtSizeMinusOneAndTerminates) {
  char buffer[5];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CopyBounded(buffer, "abcdefgh"), 4u);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(CopyBounded(buffer, "ab"), 2u);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(CopyBounded(buffer, 0, "ab"), 0u);
}

TEST(BoundedCopy, PaddedZeroFillsTheRest) {
  char buffer[6];
  std::memset(buffer, 'x', sizeof buffer);
  CopyPadded(buffer, sizeof buffer, "ab");
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("ab\0\0\0\0", 6));
}

TEST(BoundedCopy, AppendReportsACut) {
  char buffer[8] = "abc";
  EXPECT_TRUE(AppendBounded(buffer, sizeof buffer, "de"));
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_FALSE(AppendBounded(buffer, sizeof buffer, "fghij"));
  EXPECT_STREQ(buffer, "abcdefg");
}
