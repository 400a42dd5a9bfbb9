// A request cannot outlast its overall deadline, however its peer trickles,
// nor the program's stop, whatever step it waits in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "net/link_report.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/request_deadline.h"
#include "platform/socket.h"
#include "support/child_process.h"
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

// Peers that never answer, each holding the request in another step; the
// time-outs are far off, so only the stop can end it, and the request says
// that the stop did. A request begun after the stop ends at once.
TEST(OutboundStop, EndsARequestWhateverStepItWaitsIn) {
  // As the program does: a TLS write to an aborted socket must not end it.
  platform::IgnoreBrokenPipes();
  ScopedWorkDir dir;
  WriteSettings({});
  SetOutboundTimeout(600000);
  std::atomic<int> taken{0};
  // Holds each connection until the request's end closes it, or, should
  // the stop not end it, until the test lets go.
  std::atomic<bool> let_go{false};
  ScriptedPeer silent([&](PeerConnection& c) {
    ++taken;
    c.ReadUntilClosed([&] { return let_go.load(); });
    return true;
  });
  // A listener with its one waiting place taken: a connect gets no answer.
  platform::SocketDescriptor full = platform::CreateTcpSocket().value;
  ASSERT_EQ(platform::BindLoopback(full, 0), 0);
  ASSERT_EQ(platform::Listen(full, 0), 0);
  const uint16_t full_port = platform::LocalPort(full).value;
  const platform::SocketDescriptor first = platform::CreateTcpSocket().value;
  ASSERT_EQ(platform::ConnectLoopback(first, full_port), 0);

  struct Case {
    std::string step;
    std::function<void()> route;
    uint16_t port;
    bool secure;
    bool stop_first;
  };
  const std::vector<Case> cases = {
      {"connect", UseDirectRoute, full_port, false, false},
      {"TLS handshake", UseDirectRoute, silent.port(), true, false},
      {"answer", UseDirectRoute, silent.port(), false, false},
      {"HTTP proxy's CONNECT", [&] { UseHttpProxy(silent.port()); }, 9, true, false},
      {"SOCKS proxy's greeting", [&] { UseSocksProxy(silent.port()); }, 9, true, false},
      {"nothing yet (stopped before)", UseDirectRoute, silent.port(), false, true},
  };
  for (const Case& c : cases) {
    c.route();
    let_go.store(false);
    if (c.stop_first) StopOutboundRequests(0);
    const int taken_before = taken.load();
    std::atomic<bool> waiting{false};
    std::promise<std::string> ended;
    std::thread request([&] {
      SetWaitListener([&] { waiting.store(true); });
      QvNetUtil util;
      std::string answer;
      const int result = util.ConnectRequest("127.0.0.1", c.port, "/x", &answer, nullptr,
                                             c.secure, false, false, 0, false);
      SetWaitListener({});
      ended.set_value(std::to_string(result) + " " + LastLinkFailure());
    });
    if (!c.stop_first) {
      // Under way: the silent peer holds the connection (the full listener never will).
      EXPECT_TRUE(WaitUntil(
          [&] { return waiting.load() && (c.port == full_port || taken.load() > taken_before); },
          std::chrono::seconds(20)))
          << c.step;
      StopOutboundRequests(0);
    }
    std::future<std::string> outcome = ended.get_future();
    if (outcome.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "the stop did not end the request waiting in its " << c.step;
      // Ends it the slow way: the peers let go.
      let_go.store(true);
      platform::CloseSocket(full);
      full = platform::kInvalidSocket;
    }
    request.join();
    EXPECT_EQ(outcome.get(), "-1 127.0.0.1:" + std::to_string(c.port) + ": " + kStoppedReason)
        << c.step;
    ResumeOutboundRequests();
  }
  SetOutboundTimeout(30000);
  platform::CloseSocket(first);
  if (full != platform::kInvalidSocket) platform::CloseSocket(full);
  UseDirectRoute();
}
