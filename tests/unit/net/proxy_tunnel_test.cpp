#include "net/proxy_tunnel.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "common/device.h"
#include "common/guarded_text.h"
#include "common/settings.h"
#include "net/net_util.h"
#include "net/request_templates.h"
#include "platform/socket.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"

namespace {

class ProxyTunnelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseDirectRoute();
    Settings("0", "None");
  }

  void Settings(const std::string& recorded, const std::string& sid) {
    WriteSettings({{"BrokerIP", "127.0.0.1"},
                   {"BrokerPort", std::to_string(broker.port())},
                   {"DeviceSID", sid},
                   {"DeviceUID", "10.0.0.5-abc"},
                   {"proxyRecorded", recorded}});
  }

  // One CONNECT against a proxy that answers reply; what the proxy read.
  bool Tunnel(const std::string& reply, std::string* request = nullptr,
              const char* creds = nullptr) {
    std::promise<std::string> seen;
    ScriptedPeer proxy([&](PeerConnection& c) {
      seen.set_value(c.ReadHeaders());
      c.Send(reply);
      return false;
    });
    auto socket = platform::CreateTcpSocket();
    EXPECT_EQ(platform::ConnectLoopback(socket.value, proxy.port()), 0);
    bool ok = util.EstablishProxyConnect("broker.example", 443, creds, socket.value);
    platform::CloseSocket(socket.value);
    std::string got = seen.get_future().get();
    if (request != nullptr) *request = got;
    return ok;
  }

  std::string ServerName() {
    return ReadGuarded(TestOutboundDevice().GetProxyVars().szProxyServerName);
  }

  ScopedWorkDir dir;
  RecordingPeer broker;
  QvNetUtil util;
};

}  // namespace

TEST(ConnectReply, Judged) {
  EXPECT_EQ(JudgeConnectReply("HTTP/1.1 200 Connection established\r\n\r\n"),
            TunnelReply::kEstablished);
  EXPECT_EQ(JudgeConnectReply("HTTP/1.0  200 OK\r\n"), TunnelReply::kEstablished);
  EXPECT_EQ(JudgeConnectReply("HTTP/1.1 407 Proxy Authentication Required\r\n"),
            TunnelReply::kCredentialsRequired);
  EXPECT_EQ(JudgeConnectReply("HTTP/1.0 403 Forbidden"), TunnelReply::kForbidden);
  EXPECT_EQ(JudgeConnectReply("HTTP/1.1 502 Bad Gateway"), TunnelReply::kProxyError);
  EXPECT_EQ(JudgeConnectReply("HTTP/1.1 500 Oops"), TunnelReply::kOther);
  EXPECT_EQ(JudgeConnectReply(""), TunnelReply::kOther);
  EXPECT_EQ(JudgeConnectReply("HTTP/1.1 20"), TunnelReply::kOther);
}

TEST_F(ProxyTunnelTest, TwoBlanksBefore200OpenTheTunnel) {
  std::string request;
  EXPECT_TRUE(Tunnel("HTTP/1.0  200 Connection established\r\n\r\n", &request, "Zm9vOmJhcg=="));
  EXPECT_EQ(request, FormatConnectRequest("broker.example", 443, "YxnetAsys", "Zm9vOmJhcg=="));
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  // Success on an unregistered device is reported once.
  std::vector<std::string> reports = broker.Requests();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("&proxyID=http&proxy_is_socks=No"
                            "&retcode=HTTP%2F1.0%20%20200%20Connection%20establi"
                            "&credType=util%20estbProxy HTTP/1.0\n"),
            std::string::npos)
      << reports[0];
  EXPECT_EQ(QvSettings::GetInstance()->ProxyRecorded(), "1");
  EXPECT_TRUE(Tunnel("HTTP/1.1 200 OK\r\n\r\n"));
  EXPECT_EQ(broker.Requests().size(), 1u);
}

TEST_F(ProxyTunnelTest, SuccessOnARegisteredDeviceIsNotReported) {
  Settings("0", "S-77");
  EXPECT_TRUE(Tunnel("HTTP/1.1 200 OK\r\n\r\n"));
  EXPECT_TRUE(broker.Requests().empty());
}

TEST_F(ProxyTunnelTest, CredentialsRequired) {
  EXPECT_FALSE(Tunnel("HTTP/1.1 407 Proxy Authentication Required\r\nServer: squid/5.7\r\n\r\n"));
  EXPECT_TRUE(TestOutboundDevice().GetProxyVars().bCredsNeeded.load());
  EXPECT_FALSE(TestOutboundDevice().GetTunnelOK());
  ASSERT_NE(util.GetLastErrorLine(), nullptr);
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.1 407 Proxy Authentication Required");
  EXPECT_EQ(ServerName(), "Server: squid/5.7\r");
  EXPECT_TRUE(Logged("!!!>>>EstablishProxyConnect(): Creds needed<<<!!!"));
  std::vector<std::string> reports = broker.Requests();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("&proxyID=Server%3A%20squid%2F5.7%0D&proxy_is_socks=No"),
            std::string::npos)
      << reports[0];
}

TEST_F(ProxyTunnelTest, ForbiddenAndProxyErrorOnlyFail) {
  EXPECT_FALSE(Tunnel("HTTP/1.0 403 Forbidden\r\nVia: 1.1 gate\r\n\r\n"));
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.0 403 Forbidden");
  EXPECT_TRUE(Logged("======!!!Forbidden Server!!!======>: broker.example"));
  EXPECT_EQ(ServerName(), "Via: 1.1 gate\r");
  EXPECT_FALSE(Tunnel("HTTP/1.1 502 Bad Gateway\r\n\r\n"));
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.1 502 Bad Gateway");
  EXPECT_TRUE(Logged("======!!!Proxy Error !!!======>: broker.example"));
  EXPECT_FALSE(TestOutboundDevice().GetTunnelOK());
}

// Any other status, or none at all, fails but marks the tunnel as made.
TEST_F(ProxyTunnelTest, OtherRepliesFailButSetTheTunnelFlag) {
  Settings("1", "None");
  EXPECT_FALSE(Tunnel("HTTP/1.1 500 Internal Server Error\r\n\r\n"));
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  UseDirectRoute();
  EXPECT_FALSE(Tunnel(""));
  EXPECT_TRUE(Logged("EstablishProxyConnect(): recv returns 0, graceful closure"));
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  EXPECT_TRUE(broker.Requests().empty());
}

// A proxy that hangs up unanswered: the report carries the start of the
// request, still in the buffer the reply would have filled.
TEST_F(ProxyTunnelTest, AnUnansweredRequestIsReportedByItsOwnStart) {
  EXPECT_FALSE(Tunnel("", nullptr, "Zm9vOmJhcg=="));
  std::vector<std::string> reports = broker.Requests();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("&retcode=CONNECT%20broker.example%3A443%20HTTP%2F"
                            "&credType=util%20estbProxy HTTP/1.0\n"),
            std::string::npos)
      << reports[0];
}
