// Outbound requests and the session against a real qvbroker; the heartbeat
// is driven beat by beat through injected waits.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "base/ini_file.h"
#include "base/log.h"
#include "broker/jsp_response.h"
#include "broker/run_jsp.h"
#include "device/device.h"
#include "device/module_entry.h"
#include "module/QvPeerModule.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/tls_reuse.h"
#include "platform/event.h"
#include "session/device_login.h"
#include "session/heartbeat.h"
#include "support/child_process.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"

namespace {

constexpr char kCheck[] = "/asys/CheckConnection.jsp?";
constexpr char kBoundary[] = "------------~!#~!#~!#~!#";

// A request as the broker gets it directly.
std::string Sent(const std::string& path, bool secure) {
  return "GET " + path + (secure ? " SSL/3.1" : " HTTP/1.0") +
         "\nUser-Agent: YxnetAsys/3.6.1\n \n\n";
}

// The body preamble the diagnostic module builds for PostLog.
std::string Preamble(const std::string& file_name) {
  const std::string b(kBoundary);
  std::string text;
  for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"domainSID", "D1"}, {"vendorSID", "V2"}, {"brokerSID", "B3"}, {"deviceSID", "S9"}}) {
    text += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
            "\r\n";
  }
  return text + "--" + b + "\r\nContent-Disposition: form-data; name=\"asysFile\"; filename=\"" +
         file_name + "\"\r\nContent-Type: text/plain\r\n\r\n";
}

class BrokerRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(broker.ok()) << broker.failure();
    UseDirectRoute();
    WriteBrokerSettings(broker);
  }
  void TearDown() override { SetOutboundTimeout(30000); }

  int Page(const std::string& path, bool secure, QvJspResponse* response,
           const char* host = "127.0.0.1") {
    return RunJsp(host, secure ? broker.tls_port() : broker.plain_port(), path.c_str(), response,
                  secure);
  }

  // escaped is the file's name as the page sends it.
  int Upload(std::string escaped, const std::string& file, std::string* response = nullptr) {
    tagREQUEST request{};
    request.szUploadFile = escaped.data();
    QvNetUtil util;
    return util.ConnectRequest("127.0.0.1", broker.plain_port(),
                               ("/asys/PostLog.jsp?" + Preamble(file)).c_str(), response, &request,
                               false, false, false, 0, true);
  }

  ScopedWorkDir dir;
  QvBrokerFixture broker{QVBROKER_PROGRAM};
};

constexpr char kUid[] = "10.0.0.5-0a1b2c3d4e5f-0";
constexpr char kSid[] = "S77";

// Runs a check between beats; the loop ends after the last one.
class ScriptedWaits : public HeartbeatWaits {
 public:
  explicit ScriptedWaits(std::vector<std::function<void()>> between)
      : between_(std::move(between)) {}
  bool WaitForStop(uint32_t interval_ms) override {
    intervals.push_back(interval_ms);
    if (next_ == between_.size()) return true;
    between_[next_++]();
    return false;
  }
  std::vector<uint32_t> intervals;

 private:
  std::vector<std::function<void()>> between_;
  size_t next_ = 0;
};

class SessionTest : public ::testing::Test {
 protected:
  void Settings(std::map<std::string, std::string> extra) {
    std::map<std::string, std::string> keys = {
        {"DeviceUID", kUid}, {"DeviceSID", kSid}, {"AppPort", "4080"}};
    for (auto& [key, value] : extra) keys[key] = value;
    WriteBrokerSettings(*broker, keys);
  }
  void StartBroker(std::vector<std::string> args = {}) {
    broker = std::make_unique<QvBrokerFixture>(QVBROKER_PROGRAM, std::move(args));
    ASSERT_TRUE(broker->ok()) << broker->failure();
    UseDirectRoute();
    Settings({});
  }
  std::string Setting(const std::string& key) {
    return std::string(IniFind(ReadText("vane.ini"), "Quovane", key).value_or("<missing>"));
  }
  std::string Device(const std::string& extra = "") {
    return std::string("deviceUID=") + kUid + "&deviceSID=" + kSid + extra;
  }

  ScopedWorkDir dir;
  std::unique_ptr<QvBrokerFixture> broker;
  HeartbeatState state;
};

}  // namespace

// One page template for every page: plain, TLS, TLS by host name (SNI,
// checked against the certificate) and a refusal are its outcomes.
TEST_F(BrokerRequestsTest, PagesGoOutByteForByteOverPlainAndTls) {
  std::vector<std::string> expected;
  auto ask = [&](const std::string& page, bool secure, const char* host = "127.0.0.1") {
    QvJspResponse response;
    EXPECT_EQ(Page(page, secure, &response, host), 0) << page;
    expected.push_back(Sent(page, secure));
    return std::string(response.GetStatus() != nullptr ? response.GetStatus() : "");
  };
  EXPECT_EQ(ask("/asys/update.jsp?type=ConfigSetting&status=200&messageSID=7", false), "200");
  const std::string login =
      "/asys/DeviceLogin.jsp?deviceUID=10.0.0.5-abc&allowUpgrade=0&port=82&ip=10.0.0.5"
      "&yxport=0&modules=QvStatusModule.dll";
  EXPECT_EQ(ask(login, true), "200");
  EXPECT_EQ(ask(kCheck, true, "localhost"), "200");
  // Still logged in.
  EXPECT_EQ(ask(login, true), "401");
  EXPECT_EQ(broker.Requests(), expected);
  EXPECT_EQ(broker.RecordNames(),
            (std::vector<std::string>{"000001-plain.req", "000002-tls.req", "000003-tls.req",
                                      "000004-tls.req"}));
}

TEST_F(BrokerRequestsTest, UntrustedOrMismatchedCertificatesFail) {
  const std::string cert = (dir.path() / "other.pem").string();
  const std::string key = (dir.path() / "other.key").string();
  ASSERT_EQ(
      RunCommand({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                  "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=other.example", "-addext",
                  "subjectAltName=DNS:other.example", "-days", "1", "-keyout", key, "-out", cert},
                 std::chrono::seconds(30)),
      0);
  QvBrokerFixture other(QVBROKER_PROGRAM, {"--cert", cert, "--key", key});
  ASSERT_TRUE(other.ok()) << other.failure();
  WriteSettings({{"BrokerCAFile", cert}});
  // Trusted, but made for another name: refused by address and by name
  // (the right name is accepted above).
  QvJspResponse response;
  for (const char* host : {"127.0.0.1", "localhost"}) {
    EXPECT_EQ(RunJsp(host, other.tls_port(), kCheck, &response, true), -1) << host;
  }
  for (const char* mismatch : {"IP address mismatch", "hostname mismatch"}) {
    EXPECT_TRUE(Logged(std::string("ConnectRequest() SSL certificate verification fail: ") +
                       mismatch))
        << ReadText("QvDebug.log");
  }
  EXPECT_TRUE(other.Requests().empty());

  for (const std::string& ca : {std::string("0"), (dir.path() / "missing.pem").string()}) {
    WriteBrokerSettings(broker, {{"BrokerCAFile", ca}});
    EXPECT_EQ(Page(kCheck, true, &response), -1) << ca;
    EXPECT_EQ(response.GetStatus(), nullptr);
  }
  EXPECT_TRUE(Logged("ConnectRequest() SSL_connect establisment fail"));
  EXPECT_TRUE(
      Logged("ConnectRequest() SSL certificate verification fail: "
             "self-signed certificate in certificate chain"))
      << ReadText("QvDebug.log");
  EXPECT_TRUE(broker.Requests().empty());
}

TEST_F(BrokerRequestsTest, UploadsSendTheirFilesByteForByte) {
  const std::string content = std::string("line one\r\nline two\n\x00\xff end", 24);
  WriteText(dir.path() / "my report.txt", content);
  std::string response;
  EXPECT_EQ(Upload("my%20report.txt", "my report.txt", &response), 0);
  QvJspResponse answer;
  ASSERT_EQ(answer.BuildResponse(response.c_str()), 0);
  EXPECT_TRUE(answer.IsOK());
  EXPECT_STREQ(answer.GetDetails("bytes"), "24");
  const std::string preamble = Preamble("my report.txt");
  const std::string header =
      "POST /asys/PostLog.jsp HTTP/1.1\nUser-Agent: YxnetAsys/3.6.1\nHost: 127.0.0.1\n"
      "Content-Length: " +
      std::to_string(preamble.size() + 24) +
      "\nContent-Type: multipart/form-data; boundary=" + kBoundary +
      "\nConnection: Keep-Alive\nCache-Control: no-cache\n \n\n";
  EXPECT_EQ(broker.Requests(), std::vector<std::string>{header + preamble + content});
  EXPECT_EQ(ReadText(broker.store_dir() / "my report.txt"), content);

  const size_t cleanups = LogCount("ConnectRequest --- Done Cleanup");
  EXPECT_EQ(Upload("absent.txt", "absent.txt"), -1);
  EXPECT_EQ(LogCount("ConnectRequest --- Done Cleanup"), cleanups + 1);

  // Two of the five debug files exist, and the log grows while it is sent:
  // the declared length still matches the bytes sent.
  QvLog::GetInstance()->Write("a line before the upload", 1);
  const std::string settings = ReadText(dir.path() / "vane.ini");
  const std::string debug_preamble = Preamble("_Yx_Logs.log");
  EXPECT_EQ(Upload("_Yx_Logs.log", "_Yx_Logs.log"), 0);
  const std::string sent = broker.Requests().back();
  const size_t body_at = sent.find(" \n\n") + 3;
  EXPECT_EQ(sent.size() - body_at, std::stoul(sent.substr(sent.find("Content-Length: ") + 16)));
  const std::string body = sent.substr(body_at);
  ASSERT_EQ(body.substr(0, debug_preamble.size() + settings.size()), debug_preamble + settings);
  const std::string log_part = body.substr(debug_preamble.size() + settings.size());
  EXPECT_FALSE(log_part.empty());
  EXPECT_EQ(ReadText(dir.path() / "QvDebug.log").substr(0, log_part.size()), log_part);
}

TEST_F(BrokerRequestsTest, BrokenAnswers) {
  auto page = [&](const std::string& mode) {
    broker.Admin("/admin/fail?Heartbeat=" + mode);
    QvJspResponse response;
    int result = Page("/asys/Heartbeat.jsp?deviceSID=S9", false, &response);
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

TEST_F(SessionTest, LoginReportsTheDeviceAndTakesTheKey) {
  StartBroker({"--device", Device("&brokerKey=K1&ip=10.9.9.9&fw=1")});
  Settings({{"ContentVersions", "photos,maps"}, {"photos", "3"}, {"AllowUpgrade", ""}});
  // A device of its own: the module list would stay on the process's
  // outbound device, which the other tests share.
  QvDevice device;
  device.LoadConfiguration();
  device.BuildModuleList("$Revision: 1.160 $");
  ASSERT_EQ(DeviceLogin(device), 0);
  EXPECT_EQ(device.GetBrokerKey(), "K1");
  EXPECT_EQ(device.GetLocalIP(), "10.9.9.9");
  EXPECT_EQ(device.GetRemoteIP(), "127.0.0.1");
  EXPECT_TRUE(device.GetFirewall());
  EXPECT_TRUE(device.GetOnlineState());
  EXPECT_TRUE(Logged("login OK."));

  // The network's modules (a missing Modules key lists none of its own),
  // the status stand-in found beside the program, then the content versions.
  const std::string modules =
      "QvServer-1.160|QvLoginModule.dll-none|QvMetaObjectModule.dll-none|"
      "QvProxyModule.dll-none|QvShareModule.dll-none|QvStatusModule.dll-1.1|"
      "QvTransferModule.dll-none|photos-3|maps-none";
  EXPECT_EQ(broker->RequestLines(),
            std::vector<std::string>{"GET /asys/DeviceLogin.jsp?deviceUID=" + std::string(kUid) +
                                     "&allowUpgrade=0&port=4080&ip=" + device.GetIP() +
                                     "&yxport=0&modules=" + modules + " SSL/3.1"});
}

// Still logged in: one logout and one retry; when that logout fails, no
// login and no success reported. The logout does not look at the status.
TEST_F(SessionTest, LoginRetriesOnceWhenStillLoggedInAndFailuresLeaveItOffline) {
  StartBroker({"--device", Device("&loggedIn=1")});
  QvDevice& device = TestOutboundDevice();
  EXPECT_EQ(DeviceLogin(device), 0);
  EXPECT_TRUE(Logged("Device already logged-in. Trying to log it out."));
  EXPECT_TRUE(LoggedPrefix("no login error on 2nd try. broker key : BK"));
  std::vector<std::string> lines = broker->RequestLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "GET /asys/DeviceLogout.jsp?deviceUID=" + std::string(kUid) + " SSL/3.1");
  EXPECT_EQ(lines[0], lines[2]);
  ASSERT_NE(broker->Admin("/admin/fail?DeviceLogout=reset"), "");
  EXPECT_EQ(DeviceLogin(device), 401);
  EXPECT_EQ(broker->RequestLines().size(), 5u);

  ASSERT_NE(broker->Admin("/admin/fail?DeviceLogin=status=404"), "");
  ASSERT_NE(broker->Admin("/admin/fail?DeviceLogout=status=500"), "");
  device.SetOnlineState(false);
  EXPECT_EQ(DeviceLogin(device), 404);
  EXPECT_FALSE(device.GetOnlineState());
  EXPECT_EQ(DeviceLogout(), 0);
  Settings({{"DeviceSID", "None"}});
  EXPECT_EQ(DeviceLogin(device), -2);
  EXPECT_EQ(DeviceLogout(), -1);
  EXPECT_EQ(broker->RequestLines().size(), 7u);
}

TEST(StoredMac, IsTheMiddleOfTheDeviceIdentifier) {
  EXPECT_EQ(StoredMac("10.0.0.5-0a1b2c3d4e5f-0"), "0a1b2c3d4e5f");
  EXPECT_EQ(StoredMac("10.0.0.5-0a1b2c3d4e5f-loc-0"), "0a1b2c3d4e5f-loc");
  EXPECT_EQ(StoredMac("10.0.0.5-0a1b2c3d4e5f"), "0a1b2c3d4e5f");
  EXPECT_EQ(StoredMac("nodash"), "");
}

TEST_F(SessionTest, FirstBeatFallsBackToTheSecondAlternativePort) {
  StartBroker({"--device", Device("&loggedIn=1")});
  const uint16_t working = broker->plain_port();
  // Nobody listens on these.
  const uint16_t dead = FreeLoopbackPort();
  const uint16_t also_dead = FreeLoopbackPort();
  // Alternative ports are plain ones.
  Settings({{"SecureBrokerPages", "0"},
            {"BrokerPort", std::to_string(dead)},
            {"AlternativeBrokerPorts", std::to_string(also_dead) + ";" + std::to_string(working)}});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  device.SetOnlineState(false);

  ScriptedWaits waits({[&] {
    EXPECT_TRUE(device.GetOnlineState());
    EXPECT_EQ(state.endpoint.GetCurrentPort(), working);
    broker.reset();  // the next beat fails on the port that worked
  }});
  EXPECT_EQ(HeartbeatThread(state, device, waits), 0);
  EXPECT_EQ(Setting("BrokerPort"), std::to_string(working));
  EXPECT_EQ(Setting("AlternativeBrokerPorts"),
            std::to_string(also_dead) + ";" + std::to_string(dead));
  EXPECT_TRUE(state.reached.load());
  EXPECT_FALSE(device.GetOnlineState());
  // Once a beat got through, a failure no longer tries the alternatives.
  EXPECT_EQ(LogCount("HeartbeatThread status is OK"), 1u);
  EXPECT_EQ(LogCount("HeartbeatThread status not OK: -1"), 1u);
}

// A beat a minute resumes the TLS session of the last one instead of a
// full handshake, as the program asks at start.
TEST_F(SessionTest, TheSecondBeatResumesTheTlsSession) {
  KeepTlsSessions();
  StartBroker({"--device", Device("&loggedIn=1")});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  ScriptedWaits waits({[] {}});
  EXPECT_EQ(HeartbeatThread(state, device, waits), 0);
  EXPECT_EQ(LogCount("HeartbeatThread status is OK"), 2u);
  EXPECT_EQ(broker->Admin("/admin/tls"), "handshakes=2 resumed=1\n");
}

TEST_F(SessionTest, IdentifierModeUntilTheDeviceGetsASid) {
  StartBroker({"--open"});
  // Plain pages keep the documented bytes.
  Settings({{"DeviceSID", "None"}, {"HeartbeatSleep", "10000"}, {"SecureBrokerPages", "0"}});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  ScriptedWaits waits(
      {[&] { device.SetAppPort("4081"); }, [&] { SwitchHeartbeatToSid(state, "S88"); }});
  EXPECT_EQ(HeartbeatThread(state, device, waits), 0);

  // A fresh identifier at the start (its shape and its storing are the
  // device's unit test), then the current port at every beat.
  const std::string uid = device.GetDeviceUID();
  EXPECT_NE(uid, kUid);
  EXPECT_EQ(
      broker->RequestLines(),
      (std::vector<std::string>{"GET /asys/Heartbeat.jsp?deviceUID=" + uid + "&port=4080 HTTP/1.0",
                                "GET /asys/Heartbeat.jsp?deviceUID=" + uid + "&port=4081 HTTP/1.0",
                                "GET /asys/Heartbeat.jsp?deviceSID=S88 HTTP/1.0"}));
  EXPECT_EQ(waits.intervals, (std::vector<uint32_t>{10000, 10000, 10000}));
}

TEST_F(SessionTest, TheStopEventEndsTheLoopWithinItsWait) {
  StartBroker({"--device", Device("&loggedIn=1")});
  // The longest wait a fault may leave the loop in, if the stop is lost:
  // a minute, three times what the test allows it.
  Settings({{"HeartbeatSleep", "60000"}});
  QvDevice& device = TestOutboundDevice();
  device.LoadConfiguration();
  platform::Event stop(false, false);
  // One wait on the real event, then the loop ends whatever it returned: a
  // lost stop fails the test after one interval instead of hanging it.
  struct OneWait : HeartbeatWaits {
    explicit OneWait(platform::Event* stop) : events(stop) {}
    bool WaitForStop(uint32_t interval_ms) override {
      events.WaitForStop(interval_ms);
      return true;
    }
    EventWaits events;
  } waits(&stop);
  auto loop = std::async(std::launch::async, [&] { return HeartbeatThread(state, device, waits); });
  const bool beat =
      WaitUntil([&] { return !broker->Requests().empty(); }, std::chrono::seconds(20));
  stop.Set();
  ASSERT_TRUE(beat);
  ASSERT_EQ(loop.wait_for(std::chrono::seconds(20)), std::future_status::ready)
      << "the stop event did not end the wait";
  EXPECT_EQ(loop.get(), 0);
  EXPECT_EQ(broker->Requests().size(), 1u);
}

TEST(HeartbeatInterval, StaysWithinItsLimits) {
  EXPECT_EQ(HeartbeatInterval(5000), 60000u);
  EXPECT_EQ(HeartbeatInterval(4000000), 60000u);
  EXPECT_EQ(HeartbeatInterval(-1), 60000u);
  EXPECT_EQ(HeartbeatInterval(10000), 10000u);
  EXPECT_EQ(HeartbeatInterval(3600000), 3600000u);
}
