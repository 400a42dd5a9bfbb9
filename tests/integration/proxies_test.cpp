// Outbound requests through squid (Basic authentication) and dante (SOCKS 5)
// to qvbroker.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "base/guarded_text.h"
#include "base/settings.h"
#include "broker/jsp_response.h"
#include "broker/run_jsp.h"
#include "device/device.h"
#include "device/proxy_credentials.h"
#include "device/proxy_settings.h"
#include "net/net_util.h"
#include "support/child_process.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/proxy_fixtures.h"
#include "support/qvbroker_fixture.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"

namespace {

constexpr char kHeartbeat[] = "/asys/Heartbeat.jsp?deviceSID=S9";
constexpr char kCheck[] = "/asys/CheckConnection.jsp?";

class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(broker.ok()) << broker.failure();
    WriteBrokerSettings(broker);
  }

  int Ask(const char* path, bool secure, QvJspResponse* response) {
    return RunJsp("127.0.0.1", secure ? broker.tls_port() : broker.plain_port(), path, response,
                  secure);
  }
  std::string Url(const std::string& path, bool secure = false) {
    return "http://127.0.0.1:" + std::to_string(secure ? broker.tls_port() : broker.plain_port()) +
           path;
  }
  // A request as the broker gets it through a proxy or inside a tunnel.
  std::string Proxied(const std::string& path, bool secure = false) {
    return "GET " + Url(path, secure) + (secure ? " SSL/3.1" : " HTTP/1.0") +
           "\nUser-Agent: YxnetAsys/3.6.1\nPragma: no-cache\n \n\n";
  }
  std::string ServerName() {
    return ReadGuarded(TestOutboundDevice().GetProxyVars().szProxyServerName);
  }
  bool CredsNeeded() { return TestOutboundDevice().GetProxyVars().bCredsNeeded.load(); }

  ScopedWorkDir dir;
  QvBrokerFixture broker{QVBROKER_PROGRAM};
  QvNetUtil util;
};

constexpr char kCredentials[] = "alice:s3cret";
constexpr char kEncoded[] = "YWxpY2U6czNjcmV0";

class SquidTest : public ProxyTest {
 protected:
  void SetUp() override {
    if (std::string(SQUID_PROGRAM).empty()) GTEST_SKIP() << "squid is not installed";
    ProxyTest::SetUp();
    squid = std::make_unique<SquidFixture>(
        SQUID_PROGRAM, std::vector<std::pair<std::string, std::string>>{{"alice", "s3cret"}});
    ASSERT_TRUE(squid->ok()) << squid->failure();
  }
  ::testing::AssertionResult InAccessLog(const std::string& part) {
    return Eventually([&] { return squid->AccessLog(); }, part);
  }

  std::unique_ptr<SquidFixture> squid;
};

constexpr char kUser[] = "qvsocks";
constexpr char kPassword[] = "s0cks";

class DanteTest : public ProxyTest {
 protected:
  void SetUp() override {
    if (std::string(DANTED_PROGRAM).empty()) GTEST_SKIP() << "danted is not installed";
    ProxyTest::SetUp();
  }
  void Start(bool username_method) {
    if (username_method) {
      ASSERT_TRUE(EnsureSystemUser(kUser, kPassword));
    }
    dante = std::make_unique<DanteFixture>(DANTED_PROGRAM, username_method);
    ASSERT_TRUE(dante->ok()) << dante->failure();
  }

  std::unique_ptr<DanteFixture> dante;
};

}  // namespace

// squid's 407 ends a plain request or a tunnel; its Server header names the
// proxy, whose report cannot pass the same proxy either.
TEST_F(SquidTest, WithoutCredentialsTheProxyAsksForThem) {
  UseHttpProxy(squid->port());
  std::string response;
  EXPECT_EQ(util.ConnectRequest("127.0.0.1", broker.plain_port(), kHeartbeat, &response, nullptr,
                                false, false, false, 0, false),
            -1);
  EXPECT_TRUE(CredsNeeded());
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.1 407 Proxy Authentication Required");
  EXPECT_TRUE(ServerName().starts_with("Server: squid/")) << ServerName();
  EXPECT_TRUE(Logged("RecordHttpProxy call failed:-1"));

  UseHttpProxy(squid->port());
  QvJspResponse secure;
  EXPECT_EQ(Ask(kCheck, true, &secure), -1);
  EXPECT_TRUE(CredsNeeded());
  EXPECT_FALSE(TestOutboundDevice().GetTunnelOK());
  EXPECT_TRUE(Logged("!!!>>>EstablishProxyConnect(): Creds needed<<<!!!"));
  EXPECT_TRUE(ServerName().starts_with("Server: squid/"));
  EXPECT_TRUE(broker.Requests().empty());
}

// A plain request goes as an absolute URL, or through a tunnel if it asks
// for one: there it keeps its proxy form but not the proxy's credentials,
// which would reach the broker. An origin without a Server header then
// teaches the proxy's name from squid's Via header, reported once through
// squid (which sends the header block and the body as separate chunks).
TEST_F(SquidTest, WithCredentialsPlainRequestsGoThroughAndTheProxyIsLearntOnce) {
  WriteBrokerSettings(broker, {{"SecureBrokerPages", "0"}});
  UseHttpProxy(squid->port(), kCredentials);
  QvJspResponse heartbeat;
  EXPECT_EQ(Ask(kHeartbeat, false, &heartbeat), 0);
  EXPECT_STREQ(heartbeat.GetStatus(), "404");
  // The answer came from the broker ("Resin"): nothing learnt.
  EXPECT_EQ(ServerName(), "");
  EXPECT_FALSE(CredsNeeded());
  const std::string update = "/asys/update.jsp?type=a&status=1";
  std::string response;
  EXPECT_EQ(util.ConnectRequest("127.0.0.1", broker.plain_port(), update.c_str(), &response,
                                nullptr, false, true, false, 0, false),
            0);
  std::vector<std::string> requests = broker.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].starts_with("GET /asys/Heartbeat.jsp?deviceSID=S9 HTTP/1.1\r\n"));
  EXPECT_EQ(requests[1], Proxied(update));
  // squid logs the absolute URL it was sent, without the query.
  EXPECT_TRUE(InAccessLog("GET " + Url("/asys/Heartbeat.jsp? alice ")));
  EXPECT_TRUE(InAccessLog("CONNECT 127.0.0.1:" + std::to_string(broker.plain_port())));

  RecordingPeer origin("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
  UseHttpProxy(squid->port(), kCredentials);
  for (int i = 0; i < 2; ++i) {
    response.clear();
    EXPECT_EQ(util.ConnectRequest("127.0.0.1", origin.port(), "/hello", &response, nullptr, false,
                                  false, false, 0, false),
              0);
  }
  EXPECT_EQ(response.c_str(), std::string("hello"));
  EXPECT_TRUE(ServerName().starts_with("Via: 1.1 qvtest (squid/")) << ServerName();
  requests = broker.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(requests[2].starts_with("GET /asys/RecordHttpProxy.jsp?deviceUID=10.0.0.5-abc&"));
  EXPECT_TRUE(Contains(requests[2], "&proxyID=Via%3A%201.1%20qvtest%20%28squid%2F"));
}

// TLS inside a CONNECT tunnel: the tunnel is reported once (unregistered
// device), then the broker gets the request byte for byte, without the
// proxy's credentials; the log never shows them. With a proxy for plain
// requests alone, TLS goes straight to the broker.
TEST_F(SquidTest, TlsGoesThroughATunnelOrDirectWhenOnlyPlainRequestsAreProxied) {
  WriteBrokerSettings(broker, {{"proxyRecorded", "0"}});
  UseHttpProxy(squid->port(), kCredentials);
  QvJspResponse response;
  EXPECT_EQ(Ask(kCheck, true, &response), 0);
  EXPECT_TRUE(response.IsOK());
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  EXPECT_EQ(QvSettings::GetInstance()->ProxyRecorded(), "1");
  std::vector<std::string> requests = broker.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(Contains(requests[0], "&proxyID=http&proxy_is_socks=No&retcode=HTTP%2F1.1%20200%20"));
  EXPECT_EQ(requests[1], Proxied(kCheck, true));

  // A setting that names a proxy for plain requests only ("http=h:p").
  UseHttpProxy(squid->port(), kCredentials);
  QvProxyVars& vars = TestOutboundDevice().GetProxyVars();
  WriteGuarded(vars.szHttpsProxy, "");
  vars.nHttpsPort.store(0);
  QvJspResponse direct;
  EXPECT_EQ(Ask(kCheck, true, &direct), 0);
  EXPECT_TRUE(direct.IsOK());
  EXPECT_TRUE(Logged("ConnectRequest-- no proxy for this protocol, going direct"));
  QvJspResponse plain;
  EXPECT_EQ(Ask(kCheck, false, &plain), 0);
  requests = broker.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[2],
            "GET /asys/CheckConnection.jsp? SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n \n\n");
  EXPECT_TRUE(InAccessLog("GET " + Url("/asys/CheckConnection.jsp? ")));
  EXPECT_FALSE(Contains(ReadText("QvDebug.log"), kEncoded));
}

TEST_F(DanteTest, WithoutAuthenticationPlainAndTlsRequestsGoThrough) {
  ASSERT_NO_FATAL_FAILURE(Start(false));
  UseSocksProxy(dante->port());
  QvJspResponse response;
  EXPECT_EQ(Ask(kHeartbeat, false, &response), 0);
  EXPECT_STREQ(response.GetStatus(), "404");
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  EXPECT_EQ(broker.Requests(), std::vector<std::string>{Proxied(kHeartbeat)});

  // A TLS request is not held back by the plain requests' guard, so its
  // success report (unregistered, proxyRecorded present and empty) passes.
  WriteBrokerSettings(broker, {{"proxyRecorded", ""}});
  UseSocksProxy(dante->port());
  QvJspResponse secure;
  EXPECT_EQ(Ask(kCheck, true, &secure), 0);
  EXPECT_TRUE(secure.IsOK());
  EXPECT_EQ(QvSettings::GetInstance()->ProxyRecorded(), "1");
  const std::vector<std::string> requests = broker.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(Contains(
      requests[1], "&proxyID=socks&proxy_is_socks=No&retcode=OK&credType=util%20estbSocks%202 "));
  EXPECT_EQ(requests[2], Proxied(kCheck, true));
}

TEST_F(DanteTest, TheUsernameMethodLetsOnlyTheRightPasswordThrough) {
  ASSERT_NO_FATAL_FAILURE(Start(true));
  // The plain requests' guard is what holds the failure report back.
  WriteBrokerSettings(broker, {{"SecureBrokerPages", "0"}});
  // A refused password does not stop the connect request; dante then ends
  // the connection, and the failure report is held back by the guard.
  UseSocksProxy(dante->port(), std::string(kUser) + ":wrong");
  QvJspResponse wrong;
  EXPECT_EQ(Ask(kHeartbeat, false, &wrong), -1);
  EXPECT_TRUE(Logged("!!!>>>EstablishSocksConnect(): nak<<<!!!"));
  EXPECT_TRUE(Logged("Establishing Socks already - skipping connect"));

  UseSocksProxy(dante->port());
  QvJspResponse none;
  EXPECT_EQ(Ask(kHeartbeat, false, &none), -1);
  EXPECT_TRUE(Logged("EstablishSocksConnect got nak from proxy on connect: 5"));
  EXPECT_TRUE(broker.Requests().empty());

  UseSocksProxy(dante->port(), std::string(kUser) + ":" + kPassword);
  QvJspResponse response;
  EXPECT_EQ(Ask(kHeartbeat, false, &response), 0);
  EXPECT_EQ(broker.Requests(), std::vector<std::string>{Proxied(kHeartbeat)});
  EXPECT_FALSE(Contains(ReadText("QvDebug.log"), kPassword));
}
