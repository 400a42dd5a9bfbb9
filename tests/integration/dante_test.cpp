// Outbound requests through dante, a SOCKS 5 proxy, without authentication
// and with username and password (RFC 1929, a system user).
#include <gtest/gtest.h>

#include <string>

#include "common/device.h"
#include "common/settings.h"
#include "net/net_util.h"
#include "session/jsp_response.h"
#include "session/run_jsp.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/proxy_fixtures.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"

namespace {

constexpr char kUser[] = "qvsocks";
constexpr char kPassword[] = "s0cks";

class DanteTest : public ::testing::Test {
 protected:
  void Start(bool username_method) {
    if (std::string(DANTED_PROGRAM).empty()) {
      GTEST_SKIP() << "danted is not installed";
    }
    if (username_method) {
      ASSERT_TRUE(EnsureSystemUser(kUser, kPassword));
    }
    dante = std::make_unique<DanteFixture>(DANTED_PROGRAM, username_method);
    ASSERT_TRUE(dante->ok()) << dante->failure();
    ASSERT_TRUE(broker.ok()) << broker.failure();
    Settings("1");
  }

  void Settings(const std::string& recorded) {
    WriteBrokerSettings(broker, {{"proxyRecorded", recorded}});
  }

  int Heartbeat(QvJspResponse* response) {
    return RunJsp("127.0.0.1", broker.plain_port(), "/asys/Heartbeat.jsp?deviceSID=S9", response,
                  false);
  }

  std::string ProxiedGet() {
    return "GET http://127.0.0.1:" + std::to_string(broker.plain_port()) +
           "/asys/Heartbeat.jsp?deviceSID=S9 HTTP/1.0\nUser-Agent: YxnetAsys/3.6.1\n"
           "Pragma: no-cache\n \n\n";
  }

  ScopedWorkDir dir;
  QvBrokerFixture broker{QVBROKER_PROGRAM};
  std::unique_ptr<DanteFixture> dante;
};

}  // namespace

TEST_F(DanteTest, WithoutAuthentication) {
  Start(false);
  UseSocksProxy(dante->port());
  QvJspResponse response;
  EXPECT_EQ(Heartbeat(&response), 0);
  EXPECT_STREQ(response.GetStatus(), "404");
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  EXPECT_TRUE(Logged("EstablishSocksConnect(): ack"));
  EXPECT_EQ(broker.Requests(), std::vector<std::string>{ProxiedGet()});
}

// A TLS request is not held back by the plain requests' guard, so its
// success report (unregistered, proxyRecorded present and empty) passes.
TEST_F(DanteTest, TlsThroughSocksReportsTheFirstSuccess) {
  Start(false);
  Settings("");
  UseSocksProxy(dante->port());
  QvJspResponse response;
  EXPECT_EQ(RunJsp("127.0.0.1", broker.tls_port(), "/asys/CheckConnection.jsp?", &response, true),
            0);
  EXPECT_TRUE(response.IsOK());
  EXPECT_EQ(QvSettings::GetInstance()->ProxyRecorded(), "1");
  const std::vector<std::string> requests = broker.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find(
                "&proxyID=socks&proxy_is_socks=No&retcode=OK&credType=util%20estbSocks%202 "),
            std::string::npos)
      << requests[0];
  EXPECT_EQ(requests[1], "GET http://127.0.0.1:" + std::to_string(broker.tls_port()) +
                             "/asys/CheckConnection.jsp? SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n"
                             "Pragma: no-cache\n \n\n");
}

TEST_F(DanteTest, UsernameAndPassword) {
  Start(true);
  UseSocksProxy(dante->port(), std::string(kUser) + ":" + kPassword);
  QvJspResponse response;
  EXPECT_EQ(Heartbeat(&response), 0);
  EXPECT_TRUE(Logged("EstablishSocksConnect: authed username/password"));
  EXPECT_EQ(broker.Requests(), std::vector<std::string>{ProxiedGet()});
  EXPECT_EQ(ReadText("QvDebug.log").find(kPassword), std::string::npos);
}

TEST_F(DanteTest, UsernameMethodRefusesDevicesWithoutCredentials) {
  Start(true);
  UseSocksProxy(dante->port());
  QvJspResponse response;
  EXPECT_EQ(Heartbeat(&response), -1);
  EXPECT_TRUE(Logged("EstablishSocksConnect got nak from proxy on connect: 5"));
  EXPECT_TRUE(Logged("EstablishSocksConnect failed"));
  EXPECT_TRUE(broker.Requests().empty());
}

// A refused password does not stop the connect request; dante then ends
// the connection, and the failure report is held back by the guard.
TEST_F(DanteTest, WrongPasswordFails) {
  Start(true);
  UseSocksProxy(dante->port(), std::string(kUser) + ":wrong");
  QvJspResponse response;
  EXPECT_EQ(Heartbeat(&response), -1);
  EXPECT_FALSE(Logged("EstablishSocksConnect: authed username/password"));
  EXPECT_TRUE(Logged("!!!>>>EstablishSocksConnect(): nak<<<!!!"));
  EXPECT_TRUE(Logged("Establishing Socks already - skipping connect"));
  EXPECT_TRUE(broker.Requests().empty());
}
