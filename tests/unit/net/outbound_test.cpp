// Outbound requests and their texts, CONNECT tunnels and SOCKS 5 negotiations
// against scripted loopback peers, and the reports sent to a recording broker.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/guarded_text.h"
#include "base/settings.h"
#include "broker/record_http_proxy.h"
#include "device/device.h"
#include "device/proxy_credentials.h"
#include "module/QvPeerModule.h"
#include "net/answer_chunks.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/proxy_tunnel.h"
#include "net/request_templates.h"
#include "net/socks5.h"
#include "net/url_escape.h"
#include "platform/socket.h"
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

// Bytes to read (0: the header block), then the reply to send (if any).
struct Step {
  size_t read;
  std::string reply;
};

class OutboundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseDirectRoute();
    Settings("0", "None");
  }

  // The recording broker is a plain one: the reports' documented bytes.
  void Settings(const std::string& recorded, const std::string& sid) {
    WriteSettings({{"BrokerIP", "127.0.0.1"},
                   {"BrokerPort", std::to_string(broker.port())},
                   {"SecureBrokerPages", "0"},
                   {"DeviceSID", sid},
                   {"DeviceUID", "10.0.0.5-abc"},
                   {"proxyRecorded", recorded}});
  }

  // A fresh peer running the same script on every connection.
  void Peer(std::vector<Step> steps) {
    peer.reset();
    read.clear();
    peer = std::make_unique<ScriptedPeer>([this, steps](PeerConnection& c) {
      for (const Step& step : steps) {
        const std::string got = step.read > 0 ? c.Read(step.read) : c.ReadHeaders();
        std::lock_guard<std::mutex> hold(mutex);
        read += got;
        if (!step.reply.empty()) c.Send(step.reply);
      }
      return true;
    });
  }

  bool Connect(bool socks, const char* creds = nullptr) {
    auto socket = platform::CreateTcpSocket();
    EXPECT_EQ(platform::ConnectLoopback(socket.value, peer->port()), 0);
    const bool ok = socks ? util.EstablishSocksConnect("127.0.0.1", 8080, creds, socket.value)
                          : util.EstablishProxyConnect("broker.example", 443, creds, socket.value);
    platform::CloseSocket(socket.value);
    return ok;
  }

  bool Tunnel(const std::string& reply, const char* creds = nullptr) {
    Peer({{0, reply}});
    return Connect(false, creds);
  }

  // All the peer read, once it has stopped.
  std::string PeerRead() {
    peer.reset();
    return read;
  }

  QvProxyVars& Vars() { return TestOutboundDevice().GetProxyVars(); }

  ScopedWorkDir dir;
  RecordingPeer broker;
  QvNetUtil util;
  std::mutex mutex;
  std::string read;
  std::unique_ptr<ScriptedPeer> peer;
};

class ProxyTunnelTest : public OutboundTest {};
class SocksNegotiationTest : public OutboundTest {};

class ConnectRequestTest : public OutboundTest {
 protected:
  void SetUp() override {
    OutboundTest::SetUp();
    Settings("1", "None");
  }
  int Get(const char* host, uint16_t port, const char* path, std::string* response, int mode = 0,
          bool raw = false, tagREQUEST* request = nullptr) {
    return util.ConnectRequest(host, port, path, response, request, false, false, raw, mode, false);
  }
};

}  // namespace

// Direct requests and uploads, and CONNECT with and without credentials, are
// checked on the wire by the broker's and squid's tests.
TEST(RequestTemplates, ProxiedSecureGetAndUploadTexts) {
  RequestRoute proxy;
  proxy.url_prefix = AbsoluteUrlPrefix("broker.example", 8080);
  proxy.pragma = true;
  proxy.credentials = "Zm9v";
  EXPECT_EQ(FormatSecureGetRequest(proxy, "/x", "YxnetAsys"),
            "GET http://broker.example:8080/x SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n"
            "Pragma: no-cache\nProxy-Authorization: Basic Zm9v\n\n");
  EXPECT_TRUE(FormatUploadHeader(proxy, "/asys/PostLog.jsp", "A", "h", 0)
                  .starts_with("POST http://broker.example:8080/asys/PostLog.jsp HTTP/1.1\n"));
}

TEST(AnswerChunks, StatusLinesEndTheRequestOnlyAtTheStartOfAChunk) {
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 407 Proxy Authentication Required\r\n\r\nx").kind,
            ChunkKind::kCredentialsRequired);
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.0 403 Forbidden\r\n").kind, ChunkKind::kForbidden);
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 502 Bad Gateway").kind, ChunkKind::kProxyError);
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 40").kind, ChunkKind::kData);
  // Searched anywhere in such a chunk, 403 before 502.
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 200 OK\r\nX: HTTP/1.0 502 HTTP/1.1 403\r\n\r\n").kind,
            ChunkKind::kForbidden);

  // Bare line feeds end no header block: the whole chunk is data.
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.0 200 OK\n\nStatusCode=200").append,
            "HTTP/1.0 200 OK\n\nStatusCode=200");
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 200 OK\r\n\r\n").append, "");
  EXPECT_EQ(ChunkText("ab\0cd", 5), "ab");
}

TEST(AnswerChunks, ErrorLineStopsAtTheLineEndOrAt127Characters) {
  EXPECT_EQ(ErrorLineOf("HTTP/1.0 403 Forbidden\nx"), "HTTP/1.0 403 Forbidden");
  EXPECT_EQ(ErrorLineOf("HTTP/1.0 403"), "HTTP/1.0 403");
  const std::string longer = "HTTP/1.1 502 " + std::string(200, 'x') + "\r\n";
  EXPECT_EQ(ErrorLineOf(longer), longer.substr(0, 127));
}

// Plain direct requests and their answers are checked against qvbroker.
TEST_F(ConnectRequestTest, RawAnswersKeepTheirHeadersAndTheBrowserAgentReplacesOurs) {
  std::string response;
  RecordingPeer raw("HTTP/1.0 200 OK\r\n\r\nraw");
  SetBrowserAgent(true);
  const int result = Get("127.0.0.1", raw.port(), "/x", &response, 0, true);
  SetBrowserAgent(false);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(response, "HTTP/1.0 200 OK\r\n\r\nraw");
  EXPECT_EQ(raw.Requests().at(0),
            "GET /x HTTP/1.0\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0; "
            "Yxnet)/3.6.1\n \n\n");
}

TEST_F(ConnectRequestTest, SendOnlyModesNeverUseTheProxy) {
  RecordingPeer proxy("HTTP/1.0 200 OK\r\n\r\n");
  UseHttpProxy(proxy.port(), "alice:s3cret");
  const std::string get = "GET /testproxy HTTP/1.0\nUser-Agent: YxnetAsys/3.6.1\n \n\n";
  Peer({{0, ""}});
  EXPECT_EQ(Get("127.0.0.1", peer->port(), "/testproxy", nullptr, 1), static_cast<int>(get.size()));
  EXPECT_EQ(PeerRead(), get);
  Peer({{12, ""}});
  EXPECT_EQ(Get("127.0.0.1", peer->port(), "\x0c\x00\x00\x02\x00\x02\x00", nullptr, 2), 12);
  EXPECT_EQ(PeerRead(), std::string("\x0c\x00\x00\x02\x00\x02\x00\x00\x00\x00\x00\x00", 12));
  EXPECT_TRUE(proxy.Requests().empty());
}

TEST_F(ConnectRequestTest, ProxyStatusEndsTheRequestButTheSameTextInDataDoesNot) {
  RecordingPeer refused("HTTP/1.1 407 Proxy Authentication Required\r\nServer: squid\r\n\r\nx");
  std::string response = "kept";
  EXPECT_EQ(Get("127.0.0.1", refused.port(), "/", &response), -1);
  EXPECT_EQ(response, "kept");
  EXPECT_EQ(ReadGuarded(Vars().szProxyServerName), "");  // direct: no proxy discovery

  RecordingPeer data("StatusCode=200 HTTP/1.1 407 x");
  EXPECT_EQ(Get("127.0.0.1", data.port(), "/", &response), 0);
  EXPECT_EQ(response, "keptStatusCode=200 HTTP/1.1 407 x" + std::string(1, '\0'));
}

TEST_F(ConnectRequestTest, RequestRecordTakesTheSocket) {
  Peer({{0, "hello"}});
  tagREQUEST request{};
  EXPECT_EQ(Get("127.0.0.1", peer->port(), "/", nullptr, 0, false, &request), 0);
  EXPECT_FALSE(Logged("Entering ConnectRequest read"));
  char got[8] = {};
  EXPECT_EQ(platform::Receive(request.hSocket, got, sizeof got - 1).value, 5);
  EXPECT_STREQ(got, "hello");
  platform::CloseSocket(request.hSocket);
}

TEST_F(ConnectRequestTest, AnswerLargerThanTheLimitFails) {
  WriteSettings({{"LogLevel", "1"}});
  Peer({{0, std::string(16 << 20, 'a') + "z"}});
  std::string response;
  EXPECT_EQ(Get("127.0.0.1", peer->port(), "/", &response), -1);
  EXPECT_LE(response.size(), 16u << 20);
  EXPECT_TRUE(Logged("ConnectRequest(): answer too large, limit 16777216"));
}

// The complete statuses are judged on the wire below.
TEST(ConnectReply, IncompleteOrMissingStatusesAreOther) {
  EXPECT_EQ(JudgeConnectReply("HTTP/1.1 407 Proxy Authentication Required\r\n"),
            TunnelReply::kCredentialsRequired);
  EXPECT_EQ(JudgeConnectReply("HTTP/1.1 20"), TunnelReply::kOther);
  EXPECT_EQ(JudgeConnectReply(""), TunnelReply::kOther);
}

// squid's tests check the report itself; a second success, or a registered
// device's, is not reported.
TEST_F(ProxyTunnelTest, SuccessIsReportedOnceAndOnlyForAnUnregisteredDevice) {
  EXPECT_TRUE(Tunnel("HTTP/1.0  200 Connection established\r\n\r\n"));
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  ASSERT_EQ(broker.Requests().size(), 1u);
  EXPECT_TRUE(
      Contains(broker.Requests()[0], "&retcode=HTTP%2F1.0%20%20200%20Connection%20establi&"));
  EXPECT_TRUE(Tunnel("HTTP/1.1 200 OK\r\n\r\n"));
  Settings("0", "S-77");
  EXPECT_TRUE(Tunnel("HTTP/1.1 200 OK\r\n\r\n"));
  EXPECT_EQ(broker.Requests().size(), 1u);
}

TEST_F(ProxyTunnelTest, RefusalsFailAndNameTheProxy) {
  EXPECT_FALSE(Tunnel("HTTP/1.0 403 Forbidden\r\nVia: 1.1 gate\r\n\r\n"));
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.0 403 Forbidden");
  EXPECT_TRUE(Logged("======!!!Forbidden Server!!!======>: broker.example"));
  EXPECT_EQ(ReadGuarded(Vars().szProxyServerName), "Via: 1.1 gate\r");
  EXPECT_FALSE(Tunnel("HTTP/1.1 502 Bad Gateway\r\n\r\n"));
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.1 502 Bad Gateway");
  EXPECT_FALSE(TestOutboundDevice().GetTunnelOK());
}

// Any other status, or none at all, fails but marks the tunnel as made.
TEST_F(ProxyTunnelTest, OtherRepliesFailButSetTheTunnelFlag) {
  Settings("1", "None");
  EXPECT_FALSE(Tunnel("HTTP/1.1 500 Internal Server Error\r\n\r\n"));
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  UseDirectRoute();
  EXPECT_FALSE(Tunnel(""));
  EXPECT_TRUE(TestOutboundDevice().GetTunnelOK());
  EXPECT_TRUE(broker.Requests().empty());
}

// The report of an unanswered request carries the request's own start, left
// in the buffer the reply would have filled.
TEST_F(ProxyTunnelTest, AnUnansweredRequestIsReportedByItsOwnStart) {
  EXPECT_FALSE(Tunnel("", "Zm9vOmJhcg=="));
  ASSERT_EQ(broker.Requests().size(), 1u);
  EXPECT_TRUE(Contains(
      broker.Requests()[0],
      "&retcode=CONNECT%20broker.example%3A443%20HTTP%2F&credType=util%20estbProxy HTTP/1.0\n"));
}

// The bytes on the wire are checked by the negotiations below.
TEST(Socks5Messages, BoundsAndRepliesJudgedOnlyOnTheBytesReceived) {
  EXPECT_EQ(FormatSocksAuthRequest(std::string(256, 'u'), "p"), std::nullopt);
  auto split = SplitSocksCredentials("user:pa:ss");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->password, "pa:ss");
  EXPECT_EQ(JudgeSocksMethodReply(Bytes({5, 0, 9})), SocksMethodReply::kNoAuthentication);
  EXPECT_EQ(JudgeSocksMethodReply(Bytes({5})), SocksMethodReply::kRefused);
  EXPECT_FALSE(SocksConnectAcknowledged(Bytes({5})));
  EXPECT_EQ(SocksReplyFirstByte(Bytes({0xFE})), -2);  // a signed byte
  EXPECT_EQ(SocksReplySecondByte(Bytes({5})), -1);
}

// dante checks the method with a right and a wrong password. An empty user
// makes the request begin 01 00: a one-byte answer must not read as success
// from what was sent.
TEST_F(SocksNegotiationTest, ShortOrMissingCredentials) {
  SubmitProxyCredentials(Vars(), ":pw");
  Peer({{3, Bytes({5, 2})}, {5, Bytes({1})}, {10, kConnectAck}});
  EXPECT_TRUE(Connect(true, "OnB3"));
  EXPECT_FALSE(Logged("EstablishSocksConnect: authed username/password"));

  SubmitProxyCredentials(Vars(), "nocolon");
  Peer({{3, Bytes({5, 2})}, {1, ""}});
  EXPECT_FALSE(Connect(true, "bm9jb2xvbg=="));
  EXPECT_EQ(PeerRead(), Bytes({5, 1, 2}));
  EXPECT_TRUE(Logged("EstablishSocksConnect: Creds null"));
  EXPECT_TRUE(broker.Requests().empty());
}

// Closing without a word is no acceptance, whatever the buffer held.
TEST_F(SocksNegotiationTest, ASilentProxyRefuses) {
  Peer({{3, ""}});
  EXPECT_FALSE(Connect(true));
  EXPECT_TRUE(Logged("EstablishSocksConnect got nak from proxy on connect: -1"));
  EXPECT_TRUE(broker.Requests().empty());
}

TEST_F(SocksNegotiationTest, ConnectRefusalsAreReportedEveryTime) {
  Peer({{3, Bytes({5, 0})}, {10, Bytes({5, 2, 0, 1, 0, 0, 0, 0, 0, 0})}});
  EXPECT_FALSE(Connect(true));
  EXPECT_TRUE(Vars().bCredsNeeded.load());
  QvSettings::GetInstance()->WriteSetting("proxyRecorded", "1");
  EXPECT_FALSE(Connect(true));
  // Others report their bytes; no reply, the request up to its first zero.
  Vars().bCredsNeeded = false;
  Peer({{3, Bytes({5, 0})}, {10, Bytes({5, 5, 0, 1})}});
  EXPECT_FALSE(Connect(true));
  Peer({{3, Bytes({5, 0})}, {10, ""}});
  EXPECT_FALSE(Connect(true));

  const std::vector<std::string> reports = broker.Requests();
  ASSERT_EQ(reports.size(), 4u);
  const std::string needed =
      "&proxyID=socks&proxy_is_socks=No&retcode=creds%20needed&credType=util%20estbSocks ";
  const std::string expected[] = {needed, needed, "&retcode=%05%05&credType=util%20estbSocks ",
                                  "&retcode=%05%01&credType=util%20estbSocks "};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Contains(reports[i], expected[i]));
  }
}

TEST(UrlEscape, KeepsLettersDigitsAndDotsOnly) {
  EXPECT_EQ(EscapeUrlValue("Via: 1.1 gate (squid/5.7)\r"),
            "Via%3A%201.1%20gate%20%28squid%2F5.7%29%0D");
  EXPECT_EQ(EscapeUrlValue("a-b_c~d"), "a%2Db%5Fc%7Ed");
  EXPECT_EQ(EscapeUrlValue(std::string("\xff\x00\x7f", 3)), "%FF%00%7F");
}

TEST(RecordHttpProxyPath, DeviceSidOnlyWhenRegisteredAndReturnTextCutTo32) {
  ProxyReportSettings stored{"10.0.0.5-4f2a-77", "D1", "V2", "B3", "80", "443", "None"};
  const std::string head =
      "/asys/RecordHttpProxy.jsp?deviceUID=10.0.0.5-4f2a-77&domainSID=D1&vendorSID=V2"
      "&brokerSID=B3&port=80&securePort=443&ipAddress=10.0.0.5";
  EXPECT_EQ(FormatRecordHttpProxyPath(stored, "diag", "Server: squid/5.7", nullptr, true),
            head + "&proxyID=Server%3A%20squid%2F5.7&proxy_is_socks=Yes&retcode=OK&credType=diag");
  stored.device_sid = "S9";
  const std::string forty(40, 'r');
  EXPECT_EQ(FormatRecordHttpProxyPath(stored, "util conreq", "socks", forty.c_str(), false),
            head + "&proxyID=socks&proxy_is_socks=No&deviceSID=S9&retcode=" + std::string(32, 'r') +
                "&credType=util%20conreq");
  stored.device_uid = "0";  // no '-': the address is the whole UID
  EXPECT_TRUE(Contains(FormatRecordHttpProxyPath(stored, "x", "y", "", false), "&ipAddress=0&"));
}
