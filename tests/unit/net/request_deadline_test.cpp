// A peer that answers one byte at a time, each within the step time-out,
// cannot hold an outbound request past its overall deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/net_util.h"
#include "net/outbound_state.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"

TEST(RequestDeadline, ATricklingPeerFailsTheRequestAsATimeOut) {
  ScopedWorkDir dir;
  UseDirectRoute();
  WriteSettings({});
  // Trickles for up to 8 s, then ends the answer in order: without a
  // deadline the request would succeed then.
  ScriptedPeer peer([](PeerConnection& c) {
    c.ReadHeaders();
    c.Send("HTTP/1.0 200 OK\r\n\r\n");
    for (int i = 0; i < 80 && c.Send("x"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the pace under test
    }
    return true;
  });
  SetOutboundTimeout(1000);
  SetOutboundDeadline(1500);
  QvNetUtil util;
  std::string answer;
  const auto start = std::chrono::steady_clock::now();
  int result = util.ConnectRequest("127.0.0.1", peer.port(), "/slow", &answer, nullptr, false,
                                   false, false, 0, false);
  const auto took = std::chrono::steady_clock::now() - start;
  SetOutboundTimeout(30000);
  SetOutboundDeadline(120000);
  EXPECT_EQ(result, -1);
  EXPECT_LT(took, std::chrono::seconds(6));
  EXPECT_TRUE(LoggedPrefix("ConnectRequest(): request took longer than ms "));
}
