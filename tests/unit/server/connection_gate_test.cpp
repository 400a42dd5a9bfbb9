// Which connections get a thread: hosts that are not served never, one
// other host up to its cap, everyone up to the cap in all, and this
// machine's browser past the per-host cap.
#include "server/connection_gate.h"

#include <gtest/gtest.h>

TEST(ConnectionGate, CapsPerHostAndInAllAndReleases) {
  using Verdict = ConnectionGate::Verdict;
  ConnectionGate gate;
  gate.SetCaps(2, 5);
  EXPECT_EQ(gate.Admit("10.0.0.9", false), Verdict::kNotServed);
  EXPECT_EQ(gate.Admit("10.0.0.2", true), Verdict::kAdmit);
  EXPECT_EQ(gate.Admit("10.0.0.2", true), Verdict::kAdmit);
  EXPECT_EQ(gate.Admit("10.0.0.2", true), Verdict::kHostFull);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(gate.Admit("127.0.0.1", true), Verdict::kAdmit) << i;
  EXPECT_EQ(gate.Admit("127.0.0.1", true), Verdict::kAllFull);
  EXPECT_EQ(gate.Admit("10.0.0.3", true), Verdict::kAllFull);
  gate.Release("10.0.0.2");
  EXPECT_EQ(gate.Admit("10.0.0.3", true), Verdict::kAdmit);
  gate.Release("10.0.0.9");  // never admitted: nothing changes
  EXPECT_EQ(gate.Admit("10.0.0.2", true), Verdict::kAllFull);

  BurstNotice notice;
  EXPECT_TRUE(notice.Starts(100));
  EXPECT_FALSE(notice.Starts(900));
  EXPECT_FALSE(notice.Starts(1800));  // less than a second after the last
  EXPECT_TRUE(notice.Starts(2900));
}
