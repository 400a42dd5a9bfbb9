// The broker channel as an attacker on the path meets it.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/proxy_fixtures.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);
constexpr char kPlantedMessage[] =
    "messageType=ConfigSetting&key=AllowHosts&value=10.6.6.6&messageSID=66";

std::string Details(const PeerServer& server) {
  return Get(server.port(), "/QvStatusModule.dll?operation=details").answer;
}

// Which ports the broker's records came in on: "tls", "plain" or both.
std::vector<std::string> Channels(const QvBrokerFixture& broker) {
  std::vector<std::string> channels;
  for (const std::string& name : broker.RecordNames()) {
    const std::string channel = name.ends_with("-tls.req") ? "tls" : "plain";
    if (channels.empty() || channels.back() != channel) channels.push_back(channel);
  }
  return channels;
}

PeerServerOptions WithBroker(std::map<std::string, std::string> settings = {}) {
  return {.settings = std::move(settings),
          .modules = {{STATUS_MODULE, "QvStatusModule.dll"}},
          .with_broker = true};
}

}  // namespace

// With the defaults only the TLS port hears from the device, and a broker
// on the plain port with a message of its own gets no request at all.
TEST(BrokerChannel, ByDefaultEveryPageGoesOverTlsAndThePlainPortIsNeverAsked) {
  QvBrokerFixture impostor(QVBROKER_PROGRAM, {"--open", "--message", kPlantedMessage});
  ASSERT_TRUE(impostor.ok()) << impostor.failure();
  PeerServerOptions options = WithBroker({{"BrokerPort", std::to_string(impostor.plain_port())}});
  options.broker_args = {"--message",
                         "messageType=ConfigSetting&key=LineSpeed&value=9&messageSID=1"};
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  QvBrokerFixture& broker = *server.broker();
  ASSERT_TRUE(WaitUntil(
      [&] { return broker.Admin("/admin/acks") == "type=1&status=3&messageSID=1\n"; }, kWait))
      << broker.Admin("/admin/acks");
  EXPECT_EQ(Channels(broker), std::vector<std::string>{"tls"});
  EXPECT_TRUE(impostor.RecordNames().empty());
  EXPECT_EQ(server.Setting("AllowHosts"), "127.0.0.1");
  const std::string details = Details(server);
  EXPECT_TRUE(Contains(details,
                       "\"channel\":{\"authenticated\":true,\"text\":\"TLS, certificate checked "
                       "against BrokerCAFile " +
                           broker.ca_file().string() + "\"},\"tls\":{\"verified\":true,"));
}

// A broker whose certificate chains to another CA: neither the login nor a
// beat gets through, the queued message stays queued, and the start page
// says why.
TEST(BrokerChannel, ACertificateFromAnotherCaGetsNothingCarriedOut) {
  QvBrokerFixture other(QVBROKER_PROGRAM);
  ASSERT_TRUE(other.ok()) << other.failure();
  PeerServerOptions options = WithBroker({{"BrokerCAFile", other.ca_file().string()}});
  options.broker_args = {"--message", kPlantedMessage};
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  std::string details;
  ASSERT_TRUE(WaitUntil(
      [&] {
        details = Details(server);
        return details.find("\"lastBeat\"") != std::string::npos &&
               details.find("TLS certificate not verified against BrokerCAFile ",
                            details.find("\"lastBeat\"")) != std::string::npos;
      },
      kWait))
      << details;
  EXPECT_TRUE(Contains(details, "\"online\":false"));
  EXPECT_TRUE(server.broker()->RecordNames().empty());
  EXPECT_EQ(server.broker()->Admin("/admin/messages").find("AllowHosts") != std::string::npos,
            true);
  EXPECT_EQ(server.Setting("AllowHosts"), "127.0.0.1");
}

// Through each kind of proxy the beats still go to the TLS port: squid
// tunnels them, with the credentials the user gives on a page once it asked
// for them, and dante carries them. Without credentials the CONNECT header
// ends at its one blank line: a spare line feed, forwarded into the tunnel
// ahead of the TLS handshake, made every TLS request through squid fail.
TEST(BrokerChannel, ThroughSquidAndDanteTheBeatsGoOverTls) {
  if (std::string(SQUID_PROGRAM).empty() || std::string(DANTED_PROGRAM).empty()) {
    GTEST_FAIL() << "squid and dante are needed";
  }
  SquidFixture open_squid(SQUID_PROGRAM, {});
  SquidFixture guarded_squid(SQUID_PROGRAM, {{"alice", "s3cret"}});
  DanteFixture dante(DANTED_PROGRAM, false);
  ASSERT_TRUE(open_squid.ok()) << open_squid.failure();
  ASSERT_TRUE(guarded_squid.ok()) << guarded_squid.failure();
  ASSERT_TRUE(dante.ok()) << dante.failure();
  struct Case {
    const char* name;
    std::string proxy;
    const SquidFixture* squid;
    std::string tunnel_user;  // as squid logs it; "-" without credentials
  };
  const auto http = [](const SquidFixture& squid) {
    return "http://127.0.0.1:" + std::to_string(squid.port());
  };
  const std::vector<Case> cases = {
      {"squid", http(open_squid), &open_squid, "-"},
      {"squid with credentials", http(guarded_squid), &guarded_squid, "alice"},
      {"dante", "socks5://127.0.0.1:" + std::to_string(dante.port()), nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PeerServerOptions options = WithBroker();
    options.modules.push_back({STATUS_MODULE, "QVLoginModule.dll"});
    options.environment = {{"http_proxy", c.proxy}, {"https_proxy", c.proxy}};
    PeerServer server(options);
    ASSERT_TRUE(server.ok()) << server.failure();
    QvBrokerFixture& broker = *server.broker();
    if (c.tunnel_user == "alice") {
      // The login met the proxy's 407; the user's page brings them.
      Get(server.port(), "/QVLoginModule.dll?operation=login&creds=alice:s3cret");
    }
    ASSERT_TRUE(WaitUntil([&] { return broker.PageRequests("Heartbeat") >= 1; }, kWait))
        << server.Log();
    EXPECT_EQ(Channels(broker), std::vector<std::string>{"tls"});
    if (c.squid != nullptr) {
      const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(broker.tls_port()) + " " +
                                 c.tunnel_user + " HIER_DIRECT";
      EXPECT_TRUE(Eventually([&] { return c.squid->AccessLog(); }, tunnel));
    }
  }
}

// SecureBrokerPages=0: the beats go plain to the plain port again, and the
// log, the terminal's start page and the details say the messages are not
// authenticated.
TEST(BrokerChannel, PlainPagesWhenAskedForAndTheDeviceSaysSo) {
  PeerServer server(WithBroker({{"SecureBrokerPages", "0"}}));
  ASSERT_TRUE(server.ok()) << server.failure();
  QvBrokerFixture& broker = *server.broker();
  ASSERT_TRUE(WaitUntil([&] { return broker.PageRequests("Heartbeat") >= 1; }, kWait));
  // The login, then the beats.
  EXPECT_EQ(Channels(broker), (std::vector<std::string>{"tls", "plain"}));
  EXPECT_TRUE(Contains(server.Log(),
                       "SecureBrokerPages=0: heartbeats, acknowledgements, proxy reports and log "
                       "uploads go to the broker in plain HTTP"));
  const std::string details = Details(server);
  EXPECT_TRUE(Contains(
      details, "\"channel\":{\"authenticated\":false,\"text\":\"plain HTTP, not authenticated\"}"));
}
