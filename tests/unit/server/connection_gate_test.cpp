// Which connections get a thread: hosts that are not served never, one
// other host up to its cap, the other hosts together up to three quarters
// of the cap in all, and this machine's browser past both, up to the cap.
#include "server/connection_gate.h"

#include <gtest/gtest.h>

TEST(ConnectionGate, CapsPerHostAndInAllKeepingAShareForTheBrowser) {
  using Verdict = ConnectionGate::Verdict;
  ConnectionGate gate;
  gate.SetCaps(2, 8);  // the other hosts get 6
  EXPECT_EQ(gate.Admit("10.0.0.9", false), Verdict::kNotServed);
  EXPECT_EQ(gate.Admit("10.0.0.2", true), Verdict::kAdmit);
  EXPECT_EQ(gate.Admit("10.0.0.2", true), Verdict::kAdmit);
  EXPECT_EQ(gate.Admit("10.0.0.2", true), Verdict::kHostFull);
  for (const char* host : {"10.0.0.3", "10.0.0.3", "10.0.0.4", "10.0.0.4"}) {
    EXPECT_EQ(gate.Admit(host, true), Verdict::kAdmit) << host;
  }
  EXPECT_EQ(gate.Admit("10.0.0.5", true), Verdict::kAllFull);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(gate.Admit("127.0.0.1", true), Verdict::kAdmit) << i;
  EXPECT_EQ(gate.Admit("127.0.0.1", true), Verdict::kAllFull);
  gate.Release("10.0.0.2");
  EXPECT_EQ(gate.Admit("127.0.0.1", true), Verdict::kAdmit);  // the browser may take it
  EXPECT_EQ(gate.Admit("10.0.0.5", true), Verdict::kAllFull);
  gate.Release("127.0.0.1");
  gate.Release("10.0.0.9");  // never admitted: nothing changes
  EXPECT_EQ(gate.Admit("10.0.0.5", true), Verdict::kAdmit);
  EXPECT_EQ(gate.Admit("10.0.0.6", true), Verdict::kAllFull);
}
