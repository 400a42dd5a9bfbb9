// A burst of lines that peers cause: the first goes out, the rest are counted.
#include "server/peer_lines.h"

#include <gtest/gtest.h>

TEST(LineBurst, FirstLineThenTheCountOnceOver) {
  LineBurst burst;
  std::optional<LineBurst::Count> ended;
  EXPECT_FALSE(burst.DueIn(0));
  EXPECT_TRUE(burst.Line(100, "Couldn't parse request data", 1, &ended));
  EXPECT_EQ(burst.DueIn(600), 500u);
  EXPECT_FALSE(burst.End(600));  // not over yet
  for (uint32_t at = 900; at <= 2400; at += 500) EXPECT_FALSE(burst.Line(at, "x", 1, &ended));
  EXPECT_FALSE(ended);
  EXPECT_FALSE(burst.End(3399));
  auto count = burst.End(3400);
  ASSERT_TRUE(count);
  EXPECT_EQ(count->Text(), "Couldn't parse request data ... and 4 more in 3 s");
  EXPECT_FALSE(burst.DueIn(3400));

  // A lone line has nothing to count; a burst that ended unseen is counted
  // when the next begins.
  EXPECT_TRUE(burst.Line(5000, "a", 1, &ended));
  EXPECT_FALSE(burst.End(6000));
  EXPECT_TRUE(burst.Line(7000, "b", 1, &ended));
  EXPECT_FALSE(burst.Line(7001, "b", 1, &ended));
  EXPECT_TRUE(burst.Line(9000, "c", 1, &ended));
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->Text(), "b ... and 1 more in 1 s");

  // A flood without a pause is counted once a minute, across the clock's wrap.
  LineBurst flood;
  const uint32_t start = 0xFFFFFF00u;
  EXPECT_TRUE(flood.Line(start, "f", 1, &ended));
  uint32_t at = start;
  for (int i = 0; i < 119; ++i) flood.Line(at += 500, "f", 1, &ended);
  EXPECT_FALSE(flood.End(at));
  auto minute = flood.End(at + 500);
  ASSERT_TRUE(minute);
  EXPECT_EQ(minute->more, 119u);
  EXPECT_EQ(minute->seconds, 60u);
}
