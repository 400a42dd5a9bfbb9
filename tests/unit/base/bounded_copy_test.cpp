#include "base/bounded_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(BoundedCopy, CutsTerminatesPadsAndReportsACut) {
  char buffer[6];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CopyBounded(buffer, "abcdefgh"), 5u);
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_EQ(CopyBounded(buffer, 0, "ab"), 0u);
  CopyPadded(buffer, sizeof buffer, "ab");
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("ab\0\0\0\0", 6));
  char text[8] = "abc";
  EXPECT_TRUE(AppendBounded(text, sizeof text, "de"));
  EXPECT_FALSE(AppendBounded(text, sizeof text, "fghij"));
  EXPECT_STREQ(text, "abcdefg");
}
