// Outbound requests against a real qvbroker: every page of the broker
// contract byte for byte (plain, TLS, upload), certificate checks, and the
// broker's failure modes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/QvPeerModule.h"
#include "common/device.h"
#include "common/log.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/request_templates.h"
#include "session/jsp_response.h"
#include "session/run_jsp.h"
#include "support/child_process.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"

namespace {

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.0\nUser-Agent: YxnetAsys/3.6.1\n \n\n";
}

std::string SecureGet(const std::string& path) {
  return "GET " + path + " SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n \n\n";
}

// The body preamble the diagnostic module builds for PostLog.
std::string PostLogPath(const std::string& file_name) {
  const std::string b(kUploadBoundary);
  std::string text = "/asys/PostLog.jsp?";
  for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"domainSID", "D1"}, {"vendorSID", "V2"}, {"brokerSID", "B3"}, {"deviceSID", "S9"}}) {
    text += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
            "\r\n";
  }
  text += "--" + b + "\r\nContent-Disposition: form-data; name=\"asysFile\"; filename=\"" +
          file_name + "\"\r\nContent-Type: text/plain\r\n\r\n";
  return text;
}

class BrokerRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(broker.ok()) << broker.failure();
    UseDirectRoute();
    Settings({});
  }
  void TearDown() override { SetOutboundTimeout(30000); }

  void Settings(std::map<std::string, std::string> extra) { WriteBrokerSettings(broker, extra); }

  int Page(const std::string& path, bool secure, QvJspResponse* response,
           const char* host = "127.0.0.1") {
    return RunJsp(host, secure ? broker.tls_port() : broker.plain_port(), path.c_str(), response,
                  secure);
  }

  ScopedWorkDir dir;
  QvBrokerFixture broker{QVBROKER_PROGRAM};
};

}  // namespace

TEST_F(BrokerRequestsTest, PlainPagesByteForByte) {
  const std::vector<std::string> pages = {
      "/asys/Heartbeat.jsp?deviceUID=10.0.0.5-abc&port=82",
      "/asys/update.jsp?type=ConfigSetting&status=200&messageSID=7",
      "/asys/ProxyList.jsp?deviceSID=S9",
      "/asys/ReportDiagnostics.jsp?deviceSID=S9&step=1&result=ok",
      "/asys/RecordHttpProxy.jsp?deviceUID=10.0.0.5-abc&retcode=OK&credType=diag",
  };
  std::vector<std::string> expected;
  for (const std::string& page : pages) {
    QvJspResponse response;
    EXPECT_EQ(Page(page, false, &response), 0) << page;
    ASSERT_NE(response.GetStatus(), nullptr) << page;
    expected.push_back(Get(page));
  }
  EXPECT_EQ(broker.Requests(), expected);
  EXPECT_EQ(broker.RecordNames().front(), "000001-plain.req");
}

TEST_F(BrokerRequestsTest, TlsPagesByteForByteWithTheBrokerCa) {
  const std::vector<std::string> pages = {
      "/asys/DeviceLogin.jsp?deviceUID=10.0.0.5-abc&allowUpgrade=0&port=82&ip=10.0.0.5"
      "&yxport=0&modules=QvStatusModule.dll",
      "/asys/DeviceLogout.jsp?deviceUID=10.0.0.5-abc",
      "/asys/UserLogout.jsp?userSID=U&deviceSID=S9&domainSID=D1&vendorSID=V2&brokerSID=B3&appSID=A",
      "/asys/CheckConnection.jsp?",
  };
  std::vector<std::string> expected;
  for (const std::string& page : pages) {
    QvJspResponse response;
    EXPECT_EQ(Page(page, true, &response), 0) << page;
    EXPECT_TRUE(response.IsOK()) << page;
    expected.push_back(SecureGet(page));
  }
  // A host name goes out as SNI and is checked against the certificate.
  QvJspResponse by_name;
  EXPECT_EQ(Page("/asys/CheckConnection.jsp?", true, &by_name, "localhost"), 0);
  expected.push_back(SecureGet("/asys/CheckConnection.jsp?"));

  EXPECT_EQ(broker.Requests(), expected);
  EXPECT_EQ(broker.RecordNames().back(), "000005-tls.req");
  // Logged in again, then still logged in.
  QvJspResponse login;
  QvJspResponse again;
  EXPECT_EQ(Page(pages[0], true, &login), 0);
  EXPECT_EQ(Page(pages[0], true, &again), 0);
  EXPECT_STREQ(login.GetStatus(), "200");
  EXPECT_STREQ(again.GetStatus(), "401");
  EXPECT_TRUE(Logged("ConnectRequest --- SSL Cleanup"));
}

TEST_F(BrokerRequestsTest, UntrustedCertificateFails) {
  Settings({{"BrokerCAFile", "0"}});
  QvJspResponse response;
  EXPECT_EQ(Page("/asys/CheckConnection.jsp?", true, &response), -1);
  EXPECT_EQ(response.GetStatus(), nullptr);
  EXPECT_TRUE(Logged("ConnectRequest() SSL_connect establisment fail"));
  EXPECT_TRUE(
      Logged("ConnectRequest() SSL certificate verification fail: "
             "self-signed certificate in certificate chain"))
      << ReadText("QvDebug.log");
  EXPECT_TRUE(broker.Requests().empty());

  Settings({{"BrokerCAFile", (dir.path() / "missing.pem").string()}});
  EXPECT_EQ(Page("/asys/CheckConnection.jsp?", true, &response), -1);
  EXPECT_TRUE(broker.Requests().empty());
}

TEST(BrokerCertificate, NameMismatchFails) {
  ScopedWorkDir dir;
  const std::string cert = (dir.path() / "other.pem").string();
  const std::string key = (dir.path() / "other.key").string();
  ASSERT_EQ(
      RunCommand({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                  "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=other.example", "-addext",
                  "subjectAltName=DNS:other.example", "-days", "1", "-keyout", key, "-out", cert},
                 std::chrono::seconds(30)),
      0);
  QvBrokerFixture broker(QVBROKER_PROGRAM, {"--cert", cert, "--key", key});
  ASSERT_TRUE(broker.ok()) << broker.failure();
  UseDirectRoute();
  WriteSettings({{"BrokerCAFile", cert}});
  QvJspResponse response;
  EXPECT_EQ(RunJsp("127.0.0.1", broker.tls_port(), "/asys/CheckConnection.jsp?", &response, true),
            -1);
  EXPECT_TRUE(LoggedPrefix("ConnectRequest() SSL certificate verification fail: "))
      << ReadText("QvDebug.log");
  EXPECT_TRUE(broker.Requests().empty());
}

TEST_F(BrokerRequestsTest, UploadOfOneFile) {
  const std::string content = std::string("line one\r\nline two\n\x00\xff end", 24);
  WriteText(dir.path() / "my report.txt", content);
  tagREQUEST request{};
  char name[] = "my%20report.txt";
  request.szUploadFile = name;
  const std::string path = PostLogPath("my report.txt");
  const std::string preamble = path.substr(path.find('?') + 1);
  QvNetUtil util;
  std::string response;
  EXPECT_EQ(util.ConnectRequest("127.0.0.1", broker.plain_port(), path.c_str(), &response, &request,
                                false, false, false, 0, true),
            0);
  QvJspResponse answer;
  ASSERT_EQ(answer.BuildResponse(response.c_str()), 0);
  EXPECT_TRUE(answer.IsOK());
  EXPECT_STREQ(answer.GetDetails("bytes"), "24");

  const std::string header =
      FormatUploadHeader(RequestRoute{}, "/asys/PostLog.jsp", "YxnetAsys", "127.0.0.1",
                         static_cast<int64_t>(preamble.size() + 24));
  EXPECT_EQ(broker.Requests(), std::vector<std::string>{header + preamble + content});
  EXPECT_EQ(ReadText(broker.store_dir() / "my report.txt"), content);
}

// Two of the five debug files exist, and the log grows while it is sent:
// the declared length still matches the bytes sent.
TEST_F(BrokerRequestsTest, UploadOfTheDebugLogSet) {
  QvLog::GetInstance()->Write("a line before the upload", 1);
  const std::string settings = ReadText(dir.path() / "vane.ini");
  tagREQUEST request{};
  char name[] = "_Yx_Logs.log";
  request.szUploadFile = name;
  const std::string path = PostLogPath("_Yx_Logs.log");
  const std::string preamble = path.substr(path.find('?') + 1);
  QvNetUtil util;
  EXPECT_EQ(util.ConnectRequest("127.0.0.1", broker.plain_port(), path.c_str(), nullptr, &request,
                                false, false, false, 0, true),
            0);
  std::vector<std::string> requests = broker.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& sent = requests[0];
  const size_t body_at = sent.find(" \n\n") + 3;
  const size_t length_at = sent.find("Content-Length: ") + 16;
  const size_t declared = std::stoul(sent.substr(length_at));
  EXPECT_EQ(sent.size() - body_at, declared);
  const std::string body = sent.substr(body_at);
  ASSERT_EQ(body.substr(0, preamble.size() + settings.size()), preamble + settings);
  const std::string log_part = body.substr(preamble.size() + settings.size());
  EXPECT_FALSE(log_part.empty());
  EXPECT_EQ(ReadText(dir.path() / "QvDebug.log").substr(0, log_part.size()), log_part);
}

TEST_F(BrokerRequestsTest, AnUploadOfAMissingFileFails) {
  tagREQUEST request{};
  char name[] = "absent.txt";
  request.szUploadFile = name;
  QvNetUtil util;
  EXPECT_EQ(util.ConnectRequest("127.0.0.1", broker.plain_port(), PostLogPath("absent.txt").c_str(),
                                nullptr, &request, false, false, false, 0, true),
            -1);
  EXPECT_TRUE(Logged("ConnectRequest --- Done Cleanup"));
}

TEST_F(BrokerRequestsTest, ProbeIsTwelveBytes) {
  QvNetUtil util;
  const char probe[] = "\x0c\x00\x00\x02\x00\x02\x00";
  EXPECT_EQ(util.ConnectRequest("127.0.0.1", broker.plain_port(), probe, nullptr, nullptr, false,
                                false, false, 2, false),
            12);
  ASSERT_TRUE(WaitUntil([&] { return !broker.Requests().empty(); }, std::chrono::seconds(20)));
  EXPECT_EQ(broker.Requests()[0],
            std::string("\x0c\x00\x00\x02\x00\x02\x00\x00\x00\x00\x00\x00", 12));
}

TEST_F(BrokerRequestsTest, BrokenAnswers) {
  const std::string heartbeat = "/asys/Heartbeat.jsp?deviceSID=S9";
  auto page = [&](const std::string& mode) {
    broker.Admin("/admin/fail?Heartbeat=" + mode);
    QvJspResponse response;
    int result = Page(heartbeat, false, &response);
    if (result != 0) {
      EXPECT_EQ(response.GetStatus(), nullptr) << mode;
    }
    return result;
  };
  EXPECT_EQ(page("close"), 205);
  EXPECT_EQ(page("garbage"), 205);
  EXPECT_TRUE(Logged("Non QV response. Error"));
  EXPECT_EQ(page("reset"), -1);
  EXPECT_TRUE(Logged("ConnectRequest(): recv error, nRet-1"));
  EXPECT_EQ(page("status=456"), 0);

  EXPECT_EQ(page("http=407"), -1);
  EXPECT_TRUE(TestOutboundDevice().GetProxyVars().bCredsNeeded.load());
  EXPECT_EQ(page("http=403"), -1);
  EXPECT_EQ(page("http=502"), -1);
  EXPECT_TRUE(Logged("======!!!Proxy Error !!!======>: 127.0.0.1"));

  // A broker that never answers holds the request only for the time-out.
  SetOutboundTimeout(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(page("stall"), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(broker.Requests().size(), 8u) << broker.Admin("/admin/requests");
}

TEST_F(BrokerRequestsTest, ErrorLineOfABrokenAnswer) {
  broker.Admin("/admin/fail?Heartbeat=http=403");
  QvNetUtil util;
  EXPECT_EQ(util.ConnectRequest("127.0.0.1", broker.plain_port(), "/asys/Heartbeat.jsp?deviceSID=S",
                                nullptr, nullptr, false, false, false, 0, false),
            -1);
  EXPECT_STREQ(util.GetLastErrorLine(), "HTTP/1.1 403 Forbidden");
}
