// ConnectRequest against scripted loopback peers: the route, the request
// bytes, the answer handling, the hand-over and proxy discovery.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "common/QvPeerModule.h"
#include "common/device.h"
#include "common/guarded_text.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/request_templates.h"
#include "platform/socket.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"

namespace {

const std::string kBody =
    "StatusCode=200\r\nName=OK\r\nDescription=Request completed\r\nDetails=\r\n";

class ConnectRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseDirectRoute();
    WriteSettings({{"BrokerIP", "127.0.0.1"},
                   {"BrokerPort", "9"},
                   {"DeviceSID", "None"},
                   {"DeviceUID", "10.0.0.5-abc"},
                   {"proxyRecorded", "1"}});
  }

  int Get(const char* host, uint16_t port, const char* path, std::string* response, int mode = 0,
          bool raw = false, tagREQUEST* request = nullptr) {
    return util.ConnectRequest(host, port, path, response, request, false, false, raw, mode, false);
  }

  QvProxyVars& Vars() { return TestOutboundDevice().GetProxyVars(); }

  ScopedWorkDir dir;
  QvNetUtil util;
};

// A peer that answers every request with answer (after reading its headers).
std::unique_ptr<RecordingPeer> Answering(const std::string& answer) {
  return std::make_unique<RecordingPeer>(answer);
}

}  // namespace

TEST_F(ConnectRequestTest, DirectGetKeepsTheBodyAfterTheHeaders) {
  auto peer = Answering("HTTP/1.1 200 OK\r\nServer: Resin/3.0\r\n\r\n" + kBody);
  std::string response;
  EXPECT_EQ(Get("127.0.0.1", peer->port(), "/asys/Heartbeat.jsp?deviceSID=7", &response), 0);
  EXPECT_EQ(response, kBody + std::string(1, '\0'));
  ASSERT_EQ(peer->Requests().size(), 1u);
  EXPECT_EQ(peer->Requests()[0],
            "GET /asys/Heartbeat.jsp?deviceSID=7 HTTP/1.0\nUser-Agent: YxnetAsys/3.6.1\n \n\n");
  // A dotted address is not resolved; the cleanup runs in order.
  EXPECT_FALSE(Logged("ConnectRequest--in inaddr_none"));
  EXPECT_TRUE(Logged("ConnectRequest(): recv returns 0, graceful closure"));
  EXPECT_TRUE(Logged("ConnectRequest --- Done Cleanup"));
  EXPECT_FALSE(Logged("ConnectRequest --- SSL Cleanup"));

  EXPECT_EQ(Get("localhost", peer->port(), "/", nullptr), 0);
  EXPECT_TRUE(Logged("ConnectRequest--in inaddr_none"));
  EXPECT_TRUE(Logged("ConnectRequest--done gethostbyname"));
}

TEST_F(ConnectRequestTest, BrowserAgentAndRawAnswers) {
  const std::string answer = "HTTP/1.0 200 OK\r\n\r\nraw";
  auto peer = Answering(answer);
  SetBrowserAgent(true);
  std::string response;
  int result = Get("127.0.0.1", peer->port(), "/x", &response, 0, true);
  SetBrowserAgent(false);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(response, answer);
  EXPECT_EQ(peer->Requests()[0],
            "GET /x HTTP/1.0\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0; "
            "Yxnet)/3.6.1\n \n\n");
}

TEST_F(ConnectRequestTest, SendOnlyModesNeverUseTheProxy) {
  auto proxy = Answering("HTTP/1.0 200 OK\r\n\r\n");
  UseHttpProxy(proxy->port(), "alice:s3cret");
  std::promise<std::string> first;
  std::promise<std::string> second;
  int served = 0;
  ScriptedPeer target([&](PeerConnection& c) {
    (served++ == 0 ? first : second).set_value(c.ReadToEnd());
    return served < 2;
  });
  const std::string get = FormatGetRequest(RequestRoute{}, "/testproxy", "YxnetAsys");
  EXPECT_EQ(Get("127.0.0.1", target.port(), "/testproxy", nullptr, 1),
            static_cast<int>(get.size()));
  EXPECT_EQ(first.get_future().get(), get);
  const char probe[] = "\x0c\x00\x00\x02\x00\x02\x00";
  EXPECT_EQ(Get("127.0.0.1", target.port(), probe, nullptr, 2), 12);
  EXPECT_EQ(second.get_future().get(),
            std::string("\x0c\x00\x00\x02\x00\x02\x00\x00\x00\x00\x00\x00", 12));
  EXPECT_TRUE(proxy->Requests().empty());
  EXPECT_FALSE(Logged("Entering ConnectRequest read"));
}

TEST_F(ConnectRequestTest, ProxyTroubleEndsTheRequest) {
  auto refused =
      Answering("HTTP/1.1 407 Proxy Authentication Required\r\nServer: squid/5.7\r\n\r\nx");
  std::string response = "kept";
  EXPECT_EQ(Get("127.0.0.1", refused->port(), "/", &response), -1);
  EXPECT_EQ(response, "kept");
  EXPECT_TRUE(Vars().bCredsNeeded.load());
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.1 407 Proxy Authentication Required");
  EXPECT_TRUE(Logged("======!!!Credentials required for proxy!!!======"));
  // Direct: no proxy discovery.
  EXPECT_EQ(ReadGuarded(Vars().szProxyServerName), "");

  auto forbidden = Answering("HTTP/1.0 403 Forbidden\n\n");
  EXPECT_EQ(Get("127.0.0.1", forbidden->port(), "/", nullptr), -1);
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.0 403 Forbidden");
  EXPECT_TRUE(Logged("======!!!Forbidden Server!!!======>: 127.0.0.1"));

  auto gateway = Answering("HTTP/1.1 502 Bad Gateway\r\n\r\n");
  EXPECT_EQ(Get("127.0.0.1", gateway->port(), "/", nullptr), -1);
  EXPECT_TRUE(Logged("======!!!Proxy Error !!!======>: 127.0.0.1"));

  // The same status inside data that does not begin a status line is data.
  auto data = Answering("StatusCode=200 HTTP/1.1 407 x");
  EXPECT_EQ(Get("127.0.0.1", data->port(), "/", &response), 0);
  EXPECT_EQ(response, "keptStatusCode=200 HTTP/1.1 407 x" + std::string(1, '\0'));
}

TEST_F(ConnectRequestTest, RefusedConnection) {
  EXPECT_EQ(Get("127.0.0.1", 1, "/", nullptr), -1);
  EXPECT_TRUE(Logged("ConnectRequest(): connect error"));
  EXPECT_TRUE(Logged("WSALastError111"));
}

TEST_F(ConnectRequestTest, RequestRecordTakesTheSocket) {
  std::promise<void> release;
  ScriptedPeer peer([&](PeerConnection& c) {
    c.ReadHeaders();
    c.Send("hello");
    release.get_future().wait();
    return false;
  });
  tagREQUEST request{};
  EXPECT_EQ(Get("127.0.0.1", peer.port(), "/", nullptr, 0, false, &request), 0);
  EXPECT_TRUE(Logged("Completed ConnectRequest, returning socket"));
  EXPECT_FALSE(Logged("Entering ConnectRequest read"));
  char got[8] = {};
  auto n = platform::Receive(request.hSocket, got, sizeof got - 1);
  EXPECT_EQ(n.value, 5);
  EXPECT_STREQ(got, "hello");
  release.set_value();
  platform::CloseSocket(request.hSocket);
}

TEST_F(ConnectRequestTest, AnswerLargerThanTheLimitFails) {
  WriteSettings({{"LogLevel", "1"}});
  const std::string block(1 << 20, 'a');
  ScriptedPeer peer([&](PeerConnection& c) {
    c.ReadHeaders();
    for (int i = 0; i < 16 && c.Send(block); ++i) {
    }
    c.Send("z");
    return false;
  });
  std::string response;
  EXPECT_EQ(Get("127.0.0.1", peer.port(), "/", &response), -1);
  EXPECT_LE(response.size(), 16u << 20);
  EXPECT_TRUE(Logged("ConnectRequest(): answer too large, limit 16777216"));
}

// A plain request through SOCKS gives up at once while another one is
// negotiating.
TEST_F(ConnectRequestTest, SecondSocksNegotiationFailsAtOnce) {
  std::promise<void> greeted;
  std::promise<void> release;
  ScriptedPeer proxy([&](PeerConnection& c) {
    c.Read(3);
    greeted.set_value();
    release.get_future().wait();
    c.Send(std::string("\x05\xff", 2));
    return false;
  });
  UseSocksProxy(proxy.port());
  auto first = std::async(std::launch::async, [&] {
    QvNetUtil other;
    return other.ConnectRequest("10.9.8.7", 80, "/", nullptr, nullptr, false, false, false, 0,
                                false);
  });
  greeted.get_future().wait();
  EXPECT_TRUE(SocksNegotiationInProgress());
  EXPECT_EQ(Get("10.9.8.7", 80, "/", nullptr), -1);
  EXPECT_TRUE(Logged("Establishing Socks already - skipping connect"));
  release.set_value();
  EXPECT_EQ(first.get(), -1);
  EXPECT_FALSE(SocksNegotiationInProgress());
}

// Through a proxy the answer's Via header names the proxy: stored and
// reported once (through the same proxy); the broker's "Resin" does not count.
TEST_F(ConnectRequestTest, ProxyDiscoveryReportsOnce) {
  auto resin = Answering("HTTP/1.1 200 OK\r\nServer: Resin/3.0\r\nVia: 1.1 gate\r\n\r\n" + kBody);
  UseHttpProxy(resin->port());
  std::string response;
  EXPECT_EQ(Get("10.9.8.7", 81, "/asys/x.jsp?a=1", &response), 0);
  EXPECT_EQ(response, kBody + std::string(1, '\0'));
  EXPECT_EQ(ReadGuarded(Vars().szProxyServerName), "");
  ASSERT_EQ(resin->Requests().size(), 1u);
  EXPECT_EQ(resin->Requests()[0],
            "GET http://10.9.8.7:81/asys/x.jsp?a=1 HTTP/1.0\nUser-Agent: YxnetAsys/3.6.1\n"
            "Pragma: no-cache\n \n\n");

  auto proxy = Answering("HTTP/1.0 200 OK\r\nVia: 1.1 gate\r\n\r\n" + kBody);
  UseHttpProxy(proxy->port(), "alice:s3cret");
  EXPECT_EQ(Get("10.9.8.7", 81, "/p", nullptr), 0);
  EXPECT_EQ(Get("10.9.8.7", 81, "/q", nullptr), 0);
  EXPECT_EQ(ReadGuarded(Vars().szProxyServerName), "Via: 1.1 gate\r");
  std::vector<std::string> requests = proxy->Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0],
            "GET http://10.9.8.7:81/p HTTP/1.0\nUser-Agent: YxnetAsys/3.6.1\nPragma: no-cache\n"
            "Proxy-Authorization: Basic YWxpY2U6czNjcmV0\n\n");
  EXPECT_TRUE(
      requests[1].starts_with("GET http://127.0.0.1:9/asys/RecordHttpProxy.jsp?deviceUID="));
  EXPECT_NE(requests[1].find("&proxyID=Via%3A%201.1%20gate%0D&proxy_is_socks=No"
                             "&retcode=HTTP%2F1.0%20200%20OK%0D%0AVia%3A%201.1%20gate%0D%0A"
                             "&credType=util%20conreq HTTP/1.0\n"),
            std::string::npos)
      << requests[1];
  EXPECT_TRUE(requests[2].starts_with("GET http://10.9.8.7:81/q HTTP/1.0\n"));
}
