// Outbound requests through squid with Basic authentication: absolute-URL
// requests, CONNECT tunnels (also carrying TLS to qvbroker), the
// credentials-needed flag and proxy discovery with its one report.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "common/device.h"
#include "common/guarded_text.h"
#include "common/settings.h"
#include "net/net_util.h"
#include "net/proxy_credentials.h"
#include "net/proxy_settings.h"
#include "platform/environment.h"
#include "session/jsp_response.h"
#include "session/run_jsp.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/proxy_fixtures.h"
#include "support/qvbroker_fixture.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"

namespace {

constexpr char kCredentials[] = "alice:s3cret";
constexpr char kEncoded[] = "YWxpY2U6czNjcmV0";

class SquidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(SQUID_PROGRAM).empty()) {
      GTEST_SKIP() << "squid is not installed";
    }
    squid = std::make_unique<SquidFixture>(
        SQUID_PROGRAM, std::vector<std::pair<std::string, std::string>>{{"alice", "s3cret"}});
    ASSERT_TRUE(squid->ok()) << squid->failure();
    ASSERT_TRUE(broker.ok()) << broker.failure();
    Settings("1");
  }

  void Settings(const std::string& recorded) {
    WriteBrokerSettings(broker, {{"proxyRecorded", recorded}});
  }

  std::string ServerName() {
    return ReadGuarded(TestOutboundDevice().GetProxyVars().szProxyServerName);
  }
  bool CredsNeeded() { return TestOutboundDevice().GetProxyVars().bCredsNeeded.load(); }

  std::string Plain(const std::string& path) { return std::to_string(broker.plain_port()) + path; }

  ScopedWorkDir dir;
  QvBrokerFixture broker{QVBROKER_PROGRAM};
  std::unique_ptr<SquidFixture> squid;
  QvNetUtil util;
};

}  // namespace

// Without credentials squid's 407 ends the request; its Server header names
// the proxy, whose report cannot pass the same proxy either.
TEST_F(SquidTest, WithoutCredentialsTheProxyAsksForThem) {
  UseHttpProxy(squid->port());
  std::string response;
  EXPECT_EQ(
      util.ConnectRequest("127.0.0.1", broker.plain_port(), "/asys/Heartbeat.jsp?deviceSID=S9",
                          &response, nullptr, false, false, false, 0, false),
      -1);
  EXPECT_TRUE(CredsNeeded());
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.1 407 Proxy Authentication Required");
  EXPECT_TRUE(ServerName().starts_with("Server: squid/")) << ServerName();
  EXPECT_TRUE(Logged("RecordHttpProxy call failed:-1"));
  EXPECT_TRUE(broker.Requests().empty());
}

TEST_F(SquidTest, WithCredentialsTheAbsoluteUrlGoesThrough) {
  UseHttpProxy(squid->port(), kCredentials);
  QvJspResponse response;
  EXPECT_EQ(RunJsp("127.0.0.1", broker.plain_port(), "/asys/Heartbeat.jsp?deviceSID=S9", &response,
                   false),
            0);
  EXPECT_STREQ(response.GetStatus(), "404");
  ASSERT_EQ(broker.Requests().size(), 1u);
  EXPECT_TRUE(
      broker.Requests()[0].starts_with("GET /asys/Heartbeat.jsp?deviceSID=S9 HTTP/1.1\r\n"));
  // squid logs the absolute URL it was sent, without the query.
  EXPECT_NE(squid->AccessLog().find("GET http://127.0.0.1:" + Plain("/asys/Heartbeat.jsp? alice ")),
            std::string::npos)
      << squid->AccessLog();
  // The answer came from the broker ("Resin"): nothing learnt.
  EXPECT_EQ(ServerName(), "");
  EXPECT_FALSE(CredsNeeded());
}

// An origin without a Server header: squid's Via header names the proxy,
// which is stored and reported once, through squid, to the broker. squid
// sends the header block and the body as separate chunks.
TEST_F(SquidTest, ViaHeaderIsLearntAndReportedOnce) {
  RecordingPeer origin("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
  UseHttpProxy(squid->port(), kCredentials);
  std::string response;
  for (int i = 0; i < 2; ++i) {
    response.clear();
    EXPECT_EQ(util.ConnectRequest("127.0.0.1", origin.port(), "/hello", &response, nullptr, false,
                                  false, false, 0, false),
              0);
  }
  EXPECT_EQ(response.c_str(), std::string("hello"));
  EXPECT_TRUE(ServerName().starts_with("Via: 1.1 qvtest (squid/")) << ServerName();
  ASSERT_EQ(broker.Requests().size(), 1u);
  const std::string report = broker.Requests()[0];
  EXPECT_TRUE(report.starts_with("GET /asys/RecordHttpProxy.jsp?deviceUID=10.0.0.5-abc&"))
      << report;
  EXPECT_NE(report.find("&proxyID=Via%3A%201.1%20qvtest%20%28squid%2F"), std::string::npos)
      << report;
  EXPECT_NE(report.find("&proxy_is_socks=No&retcode="), std::string::npos);
  EXPECT_NE(report.find("&credType=util%20conreq "), std::string::npos);
  EXPECT_TRUE(Logged("RecordHttpProxy sent"));
}

// TLS inside a CONNECT tunnel: the tunnel is reported once (unregistered
// device), then the broker gets the request byte for byte, without the
// proxy's credentials; the log never shows them.
TEST_F(SquidTest, TlsThroughAConnectTunnel) {
  Settings("0");
  UseHttpProxy(squid->port(), kCredentials);
  QvJspResponse response;
  EXPECT_EQ(RunJsp("127.0.0.1", broker.tls_port(), "/asys/CheckConnection.jsp?", &response, true),
            0);
  EXPECT_TRUE(response.IsOK());
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  EXPECT_EQ(QvSettings::GetInstance()->ProxyRecorded(), "1");

  const std::vector<std::string> names = broker.RecordNames();
  const std::vector<std::string> requests = broker.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(names[0], "000001-plain.req");
  EXPECT_NE(requests[0].find("&proxyID=http&proxy_is_socks=No&retcode=HTTP%2F1.1%20200%20"),
            std::string::npos)
      << requests[0];
  EXPECT_NE(requests[0].find("&credType=util%20estbProxy "), std::string::npos);
  EXPECT_EQ(names[1], "000002-tls.req");
  EXPECT_EQ(requests[1], "GET http://127.0.0.1:" + std::to_string(broker.tls_port()) +
                             "/asys/CheckConnection.jsp? SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n"
                             "Pragma: no-cache\n \n\n");
  EXPECT_EQ(ReadText("QvDebug.log").find(kEncoded), std::string::npos);
  EXPECT_TRUE(LoggedPrefix("EstablishProxyConnect() sent: CONNECT 127.0.0.1:"));
}

TEST_F(SquidTest, ConnectTunnelWithoutCredentials) {
  UseHttpProxy(squid->port());
  QvJspResponse response;
  EXPECT_EQ(RunJsp("127.0.0.1", broker.tls_port(), "/asys/CheckConnection.jsp?", &response, true),
            -1);
  EXPECT_TRUE(CredsNeeded());
  EXPECT_FALSE(TestOutboundDevice().GetTunnelOK());
  EXPECT_TRUE(Logged("!!!>>>EstablishProxyConnect(): Creds needed<<<!!!"));
  EXPECT_TRUE(Logged("EstablishProxyConnect failed"));
  EXPECT_TRUE(ServerName().starts_with("Server: squid/"));
  EXPECT_TRUE(broker.Requests().empty());
}

// A plain request may ask for a tunnel too; inside it the request keeps
// its proxy form, but not the proxy's credentials, which would reach the
// broker.
TEST_F(SquidTest, PlainRequestThroughATunnel) {
  UseHttpProxy(squid->port(), kCredentials);
  std::string response;
  EXPECT_EQ(
      util.ConnectRequest("127.0.0.1", broker.plain_port(), "/asys/update.jsp?type=a&status=1",
                          &response, nullptr, false, true, false, 0, false),
      0);
  ASSERT_EQ(broker.Requests().size(), 1u);
  EXPECT_EQ(broker.Requests()[0],
            "GET http://127.0.0.1:" + Plain("/asys/update.jsp?type=a&status=1") +
                " HTTP/1.0\nUser-Agent: YxnetAsys/3.6.1\nPragma: no-cache\n \n\n");
  EXPECT_NE(squid->AccessLog().find("CONNECT 127.0.0.1:" + std::to_string(broker.plain_port())),
            std::string::npos);
}

// http_proxy alone names a proxy for plain requests only: TLS requests go
// straight to the broker, as curl would send them, and plain ones through
// squid.
TEST_F(SquidTest, AProxyForPlainRequestsOnlyLeavesTlsDirect) {
  std::map<std::string, std::optional<std::string>> saved;
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    saved[name] = platform::GetEnvironment(name);
    platform::SetEnvironment(name, std::nullopt);
  }
  platform::SetEnvironment("http_proxy", "http://127.0.0.1:" + std::to_string(squid->port()));
  UseDirectRoute();
  QvProxyVars& vars = TestOutboundDevice().GetProxyVars();
  InitProxyVars(vars);
  for (const auto& [name, value] : saved) platform::SetEnvironment(name, value);
  SubmitProxyCredentials(vars, kCredentials);  // as the credentials page does

  QvJspResponse response;
  EXPECT_EQ(RunJsp("127.0.0.1", broker.tls_port(), "/asys/CheckConnection.jsp?", &response, true),
            0);
  EXPECT_TRUE(response.IsOK());
  EXPECT_TRUE(Logged("ConnectRequest-- no proxy for this protocol, going direct"));
  EXPECT_EQ(
      RunJsp("127.0.0.1", broker.plain_port(), "/asys/CheckConnection.jsp?", &response, false), 0);
  const std::vector<std::string> requests = broker.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            "GET /asys/CheckConnection.jsp? SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n \n\n");
  EXPECT_NE(squid->AccessLog().find("GET http://127.0.0.1:" + Plain("/asys/CheckConnection.jsp? ")),
            std::string::npos)
      << squid->AccessLog();
}
