#include "net/socks5.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "common/device.h"
#include "common/settings.h"
#include "net/net_util.h"
#include "net/proxy_credentials.h"
#include "platform/socket.h"
#include "support/child_process.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

const std::string kConnectAck = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90});

class SocksNegotiationTest : public ::testing::Test {
 protected:
  // Reports go straight to a recording broker; the negotiation runs on a
  // socket connected to the scripted proxy.
  void SetUp() override {
    UseDirectRoute();
    WriteSettings({{"BrokerIP", "127.0.0.1"},
                   {"BrokerPort", std::to_string(broker.port())},
                   {"DeviceSID", "None"},
                   {"DeviceUID", "10.0.0.5-abc"}});
  }

  void Credentials(const std::string& text) {
    SubmitProxyCredentials(TestOutboundDevice().GetProxyVars(), text);
  }

  bool Negotiate(const ScriptedPeer& proxy, int port = 8080, const char* creds = nullptr) {
    auto socket = platform::CreateTcpSocket();
    EXPECT_EQ(platform::ConnectLoopback(socket.value, proxy.port()), 0);
    bool ok = util.EstablishSocksConnect("127.0.0.1", port, creds, socket.value);
    platform::CloseSocket(socket.value);
    return ok;
  }

  ScopedWorkDir dir;
  RecordingPeer broker;
  QvNetUtil util;
};

}  // namespace

TEST(Socks5Messages, Formats) {
  EXPECT_EQ(FormatSocksGreeting(false), Bytes({5, 1, 0}));
  EXPECT_EQ(FormatSocksGreeting(true), Bytes({5, 1, 2}));
  EXPECT_EQ(*FormatSocksAuthRequest("alice", "s3cret"),
            Bytes({1, 5}) + "alice" + Bytes({6}) + "s3cret");
  EXPECT_EQ(FormatSocksAuthRequest(std::string(256, 'u'), "p"), std::nullopt);
  EXPECT_EQ(FormatSocksConnectRequest(platform::Ipv4Address{{10, 1, 2, 3}}, 8080),
            Bytes({5, 1, 0, 1, 10, 1, 2, 3, 0x1F, 0x90}));
  auto split = SplitSocksCredentials("user:pa:ss");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->user, "user");
  EXPECT_EQ(split->password, "pa:ss");
  EXPECT_FALSE(SplitSocksCredentials("nocolon"));
}

TEST(Socks5Replies, JudgedOnlyOnTheBytesReceived) {
  EXPECT_EQ(JudgeSocksMethodReply(Bytes({5, 2})), SocksMethodReply::kUsernamePassword);
  EXPECT_EQ(JudgeSocksMethodReply(Bytes({5, 0, 9})), SocksMethodReply::kNoAuthentication);
  EXPECT_EQ(JudgeSocksMethodReply(Bytes({5})), SocksMethodReply::kRefused);
  EXPECT_EQ(JudgeSocksMethodReply(""), SocksMethodReply::kRefused);
  EXPECT_EQ(JudgeSocksMethodReply(Bytes({5, 0xFF})), SocksMethodReply::kRefused);
  EXPECT_TRUE(SocksAuthAccepted(Bytes({1, 0})));
  EXPECT_FALSE(SocksAuthAccepted(Bytes({1})));
  EXPECT_TRUE(SocksConnectAcknowledged(kConnectAck));
  EXPECT_FALSE(SocksConnectAcknowledged(Bytes({5})));
  EXPECT_EQ(SocksReplyFirstByte(Bytes({0xFE})), -2);  // a signed byte
  EXPECT_EQ(SocksReplyFirstByte(""), -1);
  EXPECT_EQ(SocksReplyFirstByte(Bytes({5, 1})), 5);
  EXPECT_EQ(SocksReplySecondByte(Bytes({5, 2})), 2);
  EXPECT_EQ(SocksReplySecondByte(Bytes({5})), -1);
}

// Credentials of five and six characters make a 14-byte request; a refused
// authentication does not stop the connect request; port 8080 is 1F 90.
TEST_F(SocksNegotiationTest, AuthenticatesAndConnectsEvenAfterARefusal) {
  Credentials("alice:s3cret");
  std::promise<std::string> seen;
  ScriptedPeer proxy([&](PeerConnection& c) {
    std::string got = c.Read(3);
    c.Send(Bytes({5, 2}));
    got += c.Read(14);
    c.Send(Bytes({1, 1}));
    got += c.Read(10);
    c.Send(kConnectAck);
    seen.set_value(got);
    return false;
  });
  EXPECT_TRUE(Negotiate(proxy, 8080, "YWxpY2U6czNjcmV0"));
  EXPECT_EQ(seen.get_future().get(), Bytes({5, 1, 2}) + Bytes({1, 5}) + "alice" + Bytes({6}) +
                                         "s3cret" + Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}));
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  EXPECT_FALSE(Logged("EstablishSocksConnect: authed username/password"));
  EXPECT_TRUE(Logged("EstablishSocksConnect(): ack"));
  // proxyRecorded is missing (reads "0"): no report on success.
  EXPECT_TRUE(broker.Requests().empty());
}

TEST_F(SocksNegotiationTest, UsernamePasswordWithoutCredentialsSendsNothingMore) {
  Credentials("nocolon");
  std::promise<std::string> rest;
  ScriptedPeer proxy([&](PeerConnection& c) {
    c.Read(3);
    c.Send(Bytes({5, 2}));
    rest.set_value(c.ReadToEnd());
    return false;
  });
  EXPECT_FALSE(Negotiate(proxy, 80, "bm9jb2xvbg=="));
  EXPECT_EQ(rest.get_future().get(), "");
  EXPECT_TRUE(Logged("EstablishSocksConnect: Creds null"));
  EXPECT_TRUE(broker.Requests().empty());
}

TEST_F(SocksNegotiationTest, RefusedGreetingAndSilentProxy) {
  ScriptedPeer refusing([&](PeerConnection& c) {
    c.Read(3);
    c.Send(Bytes({5, 0xFF}));
    return false;
  });
  EXPECT_FALSE(Negotiate(refusing));
  EXPECT_TRUE(Logged("EstablishSocksConnect got nak from proxy on connect: 5"));

  // Closing without a word is no acceptance, whatever the buffer held.
  ScriptedPeer silent([&](PeerConnection& c) {
    c.Read(3);
    return false;
  });
  EXPECT_FALSE(Negotiate(silent));
  EXPECT_TRUE(Logged("EstablishSocksConnect got nak from proxy on connect: -1"));
  EXPECT_TRUE(broker.Requests().empty());
}

// An empty user name makes the authentication request begin 01 00: a
// one-byte answer must not read as "authed" from what was sent.
TEST_F(SocksNegotiationTest, ShortAuthenticationReplyIsNoSuccess) {
  Credentials(":pw");
  ScriptedPeer proxy([&](PeerConnection& c) {
    c.Read(3);
    c.Send(Bytes({5, 2}));
    c.Read(5);
    c.Send(Bytes({1}));
    c.Read(10);
    c.Send(kConnectAck);
    return false;
  });
  EXPECT_TRUE(Negotiate(proxy, 8080, "OnB3"));
  EXPECT_FALSE(Logged("EstablishSocksConnect: authed username/password"));
}

TEST_F(SocksNegotiationTest, ConnectRefusalsAreReportedEveryTime) {
  ScriptedPeer proxy([&](PeerConnection& c) {
    c.Read(3);
    c.Send(Bytes({5, 0}));
    c.Read(10);
    c.Send(Bytes({5, 2, 0, 1, 0, 0, 0, 0, 0, 0}));
    return true;
  });
  EXPECT_FALSE(Negotiate(proxy));
  EXPECT_TRUE(Logged("!!!>>>EstablishSocksConnect(): nak<<<!!!"));
  EXPECT_TRUE(Logged("\tUsernamePassword auth required"));
  EXPECT_TRUE(TestOutboundDevice().GetProxyVars().bCredsNeeded.load());
  QvSettings::GetInstance()->WriteSetting("proxyRecorded", "1");
  EXPECT_FALSE(Negotiate(proxy));

  std::vector<std::string> reports = broker.Requests();
  ASSERT_EQ(reports.size(), 2u);
  for (const std::string& report : reports) {
    EXPECT_NE(report.find("&proxyID=socks&proxy_is_socks=No&retcode=creds%20needed"
                          "&credType=util%20estbSocks HTTP/1.0\n"),
              std::string::npos)
        << report;
  }
}

TEST_F(SocksNegotiationTest, OtherRefusalsReportTheReplyBytes) {
  ScriptedPeer proxy([&](PeerConnection& c) {
    c.Read(3);
    c.Send(Bytes({5, 0}));
    c.Read(10);
    c.Send(Bytes({5, 5, 0, 1}));
    return false;
  });
  EXPECT_FALSE(Negotiate(proxy));
  EXPECT_TRUE(Logged("\tauth required response5"));
  std::vector<std::string> reports = broker.Requests();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("&retcode=%05%05&credType=util%20estbSocks "), std::string::npos)
      << reports[0];

  // No reply at all: the broker hears the request, up to its first zero.
  ScriptedPeer silent([&](PeerConnection& c) {
    c.Read(3);
    c.Send(Bytes({5, 0}));
    c.Read(10);
    return false;
  });
  EXPECT_FALSE(Negotiate(silent));
  reports = broker.Requests();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_NE(reports[1].find("&retcode=%05%01&credType=util%20estbSocks "), std::string::npos)
      << reports[1];
}

// A success is reported only while proxyRecorded is present and empty, and
// only for an unregistered device.
TEST_F(SocksNegotiationTest, SuccessReportNeedsAnEmptyProxyRecorded) {
  ScriptedPeer proxy([&](PeerConnection& c) {
    c.Read(3);
    c.Send(Bytes({5, 0}));
    c.Read(10);
    c.Send(kConnectAck);
    return true;
  });
  WriteSettings({{"BrokerIP", "127.0.0.1"},
                 {"BrokerPort", std::to_string(broker.port())},
                 {"DeviceSID", "None"},
                 {"proxyRecorded", ""}});
  EXPECT_TRUE(Negotiate(proxy));
  std::vector<std::string> reports = broker.Requests();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("&retcode=OK&credType=util%20estbSocks%202 "), std::string::npos);
  EXPECT_EQ(QvSettings::GetInstance()->ProxyRecorded(), "1");

  EXPECT_TRUE(Negotiate(proxy));
  EXPECT_EQ(broker.Requests().size(), 1u);
}
