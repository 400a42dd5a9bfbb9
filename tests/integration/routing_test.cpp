// Module requests to the real peerserver: the module, a redirect or a short
// status answer. The echo stand-ins answer with their query.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "server/dispatch.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/net_environment.h"
#include "support/peerserver_fixture.h"
#include "support/proxy_fixtures.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr char kEcho[] = TEST_MODULE_DIR "/QvExampleModule.dll";
constexpr auto kWait = std::chrono::seconds(30);

// Among the fixture's secrets: no log may hold them.
constexpr char kUser[] = "alice";
constexpr char kPassword[] = "s3cret";
constexpr char kWrongPassword[] = "wrongpw";

// What the echo stand-in answers: its parameters, one per line.
std::string Echo(std::string query) {
  std::replace(query.begin(), query.end(), '&', '\n');
  return kEchoHead + query + "\n";
}

std::string Status(const std::string& body) { return kEchoHead + body; }

class RoutingTest : public ::testing::Test {
 protected:
  // Every name a routing rule looks at, in the web root and in the module
  // list (names differing in case are different files here). False when
  // the test cannot go on.
  bool Start(PeerServerOptions options) {
    options.modules = {{STATUS_MODULE, "QvStatusmodule.dll"},
                       {diagnostic, "QvDiagnosticModule.dll"}};
    for (const char* name : {"QVLoginModule.dll", "QvLoginModule.dll", "QvYxModule.dll",
                             "QvShareModule.dll", "QvTransferModule.dll", "QvMetaObjectmodule.dll",
                             "QvMetaObjectModule.dll", "QvProxyModule.dll"}) {
      options.modules.emplace_back(kEcho, name);
    }
    // One beat at start, none while the test runs.
    options.settings.emplace("HeartbeatSleep", "3600000");
    server = std::make_unique<PeerServer>(std::move(options));
    EXPECT_TRUE(server->ok()) << server->failure();
    return server->ok();
  }

  std::string Ask(const std::string& target) { return Get(server->port(), target).answer; }

  // What serves QvDiagnosticModule.dll: the echo stand-in unless a test
  // needs the real plug-in.
  std::string diagnostic = kEcho;

  // The redirects name the application host ("localhost" unless AppIP is
  // set) and the port the server bound.
  std::string Redirect(const std::string& page_and_query) {
    return "HTTP/1.0 302 Found\nCache-Control: no-store\nLocation: http://localhost:" +
           std::to_string(server->port()) +
           "/vclient/" + page_and_query + "\n\n";
  }
  std::string Offline(const std::string& page) {
    return Redirect(page + "?qvstatus=-1&details=Device offline&Success=0");
  }
  std::string Engine(int status, const std::string& details) {
    return Redirect("engine.html?qvstatus=" + std::to_string(status) + "&details=" + details +
                    "&login=false");
  }

  std::string State() { return Ask("/QvStatusmodule.dll?operation=state"); }
  // The state in the details, where "logging in" is not "offline".
  ::testing::AssertionResult WaitForState(const std::string& word) {
    return Eventually([&] { return Ask("/QvStatusModule.dll?operation=details"); },
                      "\"state\":\"" + word + "\"");
  }

  size_t InLog(const std::string& part) { return Occurrences(server->Log(), part); }
  // Module calls so far (the host logs one line before each).
  size_t Calls() { return InLog("): CALLING with BrokerKEY : "); }
  // Requests for a broker page, by any route.
  size_t BrokerCount(const std::string& page) { return server->broker()->PageRequests(page); }

  std::unique_ptr<PeerServer> server;
};

}  // namespace

TEST_F(RoutingTest, OnlineEveryModuleRuns) {
  if (!Start({.with_broker = true})) return;
  ASSERT_TRUE(WaitForState("online")) << server->Log();

  const size_t before = Calls();
  size_t asked = 0;
  for (const char* module :
       {"QvShareModule", "QvTransferModule", "QvProxyModule", "QvYxModule", "QVLoginModule",
        "QvLoginModule", "QvMetaObjectmodule", "QvMetaObjectModule", "QvDiagnosticModule"}) {
    for (const char* query : {"operation=search", "operation=init", "operation=getnetworksettings",
                              "operation=login", "item=7&x=y"}) {
      EXPECT_EQ(Ask("/" + std::string(module) + ".dll?" + query), Echo(query))
          << module << "?" << query;
      ++asked;
    }
  }
  EXPECT_EQ(Calls() - before, asked);
  // Logged in at start; a login page of an online device does not log in again.
  EXPECT_EQ(BrokerCount("DeviceLogin"), 1u);
  EXPECT_TRUE(WaitUntil([&] { return State() == Status("online"); }, kWait)) << State();
}

TEST_F(RoutingTest, OfflineWithoutBrokerTheRulesDecideAndModulesWaitForSslWait) {
  // Registered, so the logins are tried and refused (nobody listens).
  if (!Start({.settings = {{"DeviceUID", kPeerServerDeviceUid},
                           {"DeviceSID", kPeerServerDeviceSid}}})) {
    return;
  }
  EXPECT_EQ(State(), Status("offline"));
  EXPECT_EQ(InLog("): Error on device login. Awaiting correction\n"), 1u);

  const std::string library = Offline("foot_myassets.html");
  const std::string asset = Offline("foot_asset_detail.html");
  const std::string status = Offline("qvstatus.html");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/QvShareModule.dll?item=7", library},
      {"/QvShareModule.dll?operation=login", Echo("operation=login")},
      {"/QvShareModule.dll?operation=startup", Echo("operation=startup")},
      {"/QvShareModule.dll?a=1&operation=register", Echo("a=1&operation=register")},
      {"/QvShareModule.dll?operation=search", status},
      {"/QvTransferModule.dll?item=7", asset},
      {"/QvTransferModule.dll?operation=search", status},
      {"/QvProxyModule.dll?item=7", status},
      {"/QvProxyModule.dll?operation=login", Echo("operation=login")},
      // Either case passes unless the query searches.
      {"/QvMetaObjectmodule.dll?item=7", Echo("item=7")},
      {"/QvMetaObjectmodule.dll?operation=search", status},
      {"/QvMetaObjectModule.dll?item=7", Echo("item=7")},
      {"/QvMetaObjectModule.dll?operation=search", status},
      // The status module runs offline whatever the case, and its file (listed
      // as QvStatusmodule.dll) is found on disk whatever the case.
      {"/QVSTATUSMODULE.dll?operation=state", Status("offline")},
      {"/QvDiagnosticModule.dll?operation=search", Echo("operation=search")},
      // Only the capital V makes a login page of the path.
      {"/QvLoginModule.dll?item=7", library},
      {"/QvLoginModule.dll?operation=login", Echo("operation=login")},
      {"/QvYxModule.dll?operation=init", Status("qvstatus=404\n\n")},
      {"/QvYxModule.dll?operation=getnetworksettings", Status("qvstatus=404&ip=&requestip=&fw=0")},
      {"/QvYxModule.dll?operation=getonlinestate", Echo("operation=getonlinestate")},
      {"/QvYxModule.dll?operation=search", status},
  };
  const size_t before = Calls();
  size_t echoes = 0;
  for (const auto& [target, answer] : cases) {
    EXPECT_EQ(Ask(target), answer) << target;
    echoes += answer.starts_with(kEchoHead) && answer.find("qvstatus=") == std::string::npos;
  }
  // The redirects and status answers did not load their modules.
  EXPECT_EQ(Calls() - before, echoes);

  // A login page makes the device try to log in first; it cannot.
  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login"), Engine(-1, "Device register failed"));
  EXPECT_EQ(InLog("): QvServer was offline; doing DeviceLogin prior to QvLoginModule call\n"), 1u);
  EXPECT_EQ(InLog("): Error on device login - setting to offline state.\n"), 1u);
  EXPECT_EQ(Calls() - before, echoes);
  EXPECT_EQ(State(), Status("offline"));

  // While another program holds SSLWait, a module request waits for it.
  const fs::path hold = server->session() / "SSLWait.hold";
  WriteText(hold, "");
  const size_t runs = InLog("): RunDll: : ");
  const size_t waits = InLog("seconds for ssl connection");
  OpenConnection held(server->port());
  ASSERT_TRUE(held.Send("GET /QvDiagnosticModule.dll?held=1 HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(WaitUntil([&] { return InLog("): RunDll: : ") > runs; }, kWait));
  HttpExchange early = held.Finish(std::chrono::milliseconds(300));
  EXPECT_FALSE(early.closed);
  EXPECT_EQ(early.answer, "");
  EXPECT_EQ(InLog("seconds for ssl connection"), waits);
  fs::remove(hold);
  HttpExchange late = held.Finish();
  EXPECT_TRUE(late.closed);
  EXPECT_EQ(late.answer, Echo("held=1"));
  EXPECT_EQ(InLog("seconds for ssl connection"), waits + 1);
  EXPECT_EQ(InLog("*****Wait"), 0u);
}

// Held past the time-out (30 s in the program, short here): no answer.
TEST(SslWait, AHeldEventTimesOutAndAFreeOneIsTakenAtOnce) {
  ScopedWorkDir dir;
  WriteSettings({});
  ScopedEnvironment session({{"XDG_RUNTIME_DIR", dir.path().string()}});
  WriteText(dir.path() / "SSLWait.hold", "");
  EXPECT_EQ(WaitForSslConnection(300), platform::WaitResult::kTimeout);
  EXPECT_TRUE(Logged("*****Wait timed out on sll event****"));
  fs::remove(dir.path() / "SSLWait.hold");
  EXPECT_EQ(WaitForSslConnection(300), platform::WaitResult::kAcquired);
  EXPECT_EQ(LogCount("*****Wait timed out on sll event****"), 1u);
}

TEST_F(RoutingTest, OfflineAfterALoginTheYxAnswersCarryItsAddresses) {
  // Logged in at start, then the first beat fails: offline with a user and
  // the addresses the broker gave.
  if (!Start(
          {.settings = {{"UserSID", "U1"}},
           .with_broker = true,
           .broker_args = {"--device",
                           std::string("deviceUID=") + kPeerServerDeviceUid + "&ip=10.9.9.9&fw=1",
                           "--fail", "Heartbeat=status=500"}})) {
    return;
  }
  ASSERT_TRUE(WaitForState("offline")) << server->Log();

  EXPECT_EQ(Ask("/QvYxModule.dll?operation=init"), Status("qvstatus=200\n\n"));
  EXPECT_EQ(Ask("/QvYxModule.dll?operation=getnetworksettings"),
            Status("qvstatus=200&ip=10.9.9.9&requestip=127.0.0.1&fw=1"));
  EXPECT_EQ(Ask("/QvShareModule.dll?item=7"), Offline("foot_myassets.html"));

  // The login page logs in again (the broker still has the device: one
  // logout and one retry), starts a new heartbeat and runs the module. The
  // new heartbeat beats at once: were it still refused, it could put the
  // device offline before the module is called.
  ASSERT_EQ(server->broker()->Admin("/admin/fail?clear"), "cleared\n");
  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login"), Echo("operation=login"));
  EXPECT_EQ(InLog("): QvServer was offline; doing DeviceLogin prior to QvLoginModule call\n"), 1u);
  EXPECT_EQ(InLog("): Afer DeviceLogin BrokerKey is : BK"), 2u);
  EXPECT_EQ(BrokerCount("DeviceLogin"), 3u);
  EXPECT_EQ(BrokerCount("DeviceLogout"), 1u);
  EXPECT_EQ(InLog("): BeginHeartbeatThread\n"), 2u);
  EXPECT_TRUE(WaitUntil([&] { return BrokerCount("Heartbeat") >= 2; }, kWait));
}

namespace {

// peerserver behind squid, whose Basic authentication answers 407 until
// the user's credentials come through a page.
class CredentialsTest : public RoutingTest {
 protected:
  void SetUp() override {
    if (std::string(SQUID_PROGRAM).empty()) GTEST_SKIP() << "squid is not installed";
    squid = std::make_unique<SquidFixture>(
        SQUID_PROGRAM, std::vector<std::pair<std::string, std::string>>{{kUser, kPassword}});
    ASSERT_TRUE(squid->ok()) << squid->failure();
  }

  bool StartBehindSquid(const std::string& proxy_recorded,
                        std::vector<std::string> broker_args = {}) {
    const std::string proxy = "http://127.0.0.1:" + std::to_string(squid->port());
    // The documented flow: plain beats and reports through the proxy.
    if (!Start({.settings = {{"proxyRecorded", proxy_recorded}, {"SecureBrokerPages", "0"}},
                .with_broker = true,
                .broker_args = std::move(broker_args),
                .environment = {{"http_proxy", proxy}, {"https_proxy", proxy}}})) {
      return false;
    }
    // The login at start met the proxy's 407.
    EXPECT_EQ(InLog("): Error on device login. Awaiting correction\n"), 1u) << server->Log();
    EXPECT_EQ(State(), Status("offline"));
    return true;
  }

  static std::string Creds(const std::string& password) {
    return std::string("creds=") + kUser + ":" + password;
  }

  std::unique_ptr<SquidFixture> squid;
};

}  // namespace

TEST_F(CredentialsTest, TheLoginPageAsksForThemAndLogsInWithThem) {
  if (!StartBehindSquid("0")) return;

  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login"), Engine(456, "Proxy credentials needed"));
  // Reported after the answer, through the proxy that still wants them.
  EXPECT_TRUE(WaitUntil([&] { return InLog("credType=Yxnet%201") == 1; }, kWait)) << server->Log();
  EXPECT_EQ(Ask("/QvYxModule.dll?operation=init"), Status("qvstatus=456\n\n"));
  EXPECT_EQ(InLog("credType=Yxnet%202"), 1u);
  // Reported before the module runs, too.
  EXPECT_EQ(Ask("/QvYxModule.dll?operation=getonlinestate"), Echo("operation=getonlinestate"));
  EXPECT_EQ(InLog("credType=Yxnet%202"), 2u);

  // Wrong credentials: the proxy refuses the tunnel, the flag comes back.
  EXPECT_EQ(Ask("/QvYxModule.dll?operation=init&" + Creds(kWrongPassword)),
            Status("qvstatus=457\n\n"));
  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login&" + Creds(kWrongPassword)),
            Engine(457, "Proxy credentials needed"));
  // Only the login gate says so; the Yx module just gets its status.
  EXPECT_EQ(InLog("): ======!!!Bad Credentials likely!!! ======\n"), 1u);
  EXPECT_EQ(BrokerCount("CheckConnection"), 0u);
  EXPECT_EQ(BrokerCount("DeviceLogin"), 0u);

  const size_t calls = Calls();
  const std::string login = Ask("/QVLoginModule.dll?operation=login&" + Creds(kPassword));
  EXPECT_TRUE(login.starts_with(std::string(kEchoHead) + "operation=login\n")) << login;
  EXPECT_EQ(Calls(), calls + 1);
  EXPECT_EQ(BrokerCount("CheckConnection"), 1u);
  // A login for the credentials, then the one of any offline login page
  // (the broker still has the device: a logout and a retry).
  EXPECT_EQ(BrokerCount("DeviceLogin"), 3u);
  EXPECT_EQ(BrokerCount("DeviceLogout"), 1u);
  EXPECT_EQ(InLog("): BeginHeartbeatThread\n"), 2u);
  // The new heartbeat gets through the proxy with the credentials: online.
  EXPECT_TRUE(WaitUntil([&] { return State() == Status("online"); }, kWait)) << State();
  EXPECT_EQ(Ask("/QvShareModule.dll?item=7"), Echo("item=7"));
  EXPECT_EQ(Ask("/QvYxModule.dll?operation=init"), Echo("operation=init"));
  // One report per answer that asked for credentials.
  EXPECT_EQ(InLog("credType=Yxnet%201"), 1u);
  EXPECT_EQ(InLog("credType=Yxnet%202"), 2u);
  // The check, the logins and the beat went through squid as the user.
  const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(server->broker()->tls_port()) +
                             " " + kUser + " HIER_DIRECT";
  const std::string beat = std::string("/asys/Heartbeat.jsp? ") + kUser + " HIER_DIRECT";
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string access = squid->AccessLog();
        return Occurrences(access, tunnel) >= 2 && Occurrences(access, beat) >= 1;
      },
      kWait))
      << squid->AccessLog();
}

// A user who follows the diagnostic page's advice: the credentials typed
// there reach the device, so the next login goes through the proxy with
// them, without a restart.
TEST_F(CredentialsTest, CredentialsGivenToTheDiagnosticPageServeTheNextLogin) {
#ifndef DIAGNOSTIC_MODULE
  FAIL() << "the diagnostic plug-in is not built";
#else
  diagnostic = DIAGNOSTIC_MODULE;
  if (!StartBehindSquid("1")) return;
  const std::string site = "127.0.0.1:" + std::to_string(server->broker()->plain_port());
  const std::string page =
      Ask("/QvDiagnosticModule.dll?operation=conntest&server=" + site + "&" + Creds(kPassword));
  EXPECT_TRUE(Contains(page, "submitted &amp; OK"));

  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login"), Echo("operation=login"));
  // Online once the heartbeat that login started is answered.
  EXPECT_TRUE(WaitUntil([&] { return State() == Status("online"); }, kWait)) << State();
#endif
}

TEST_F(CredentialsTest, AcceptedByTheProxyButNotByTheBroker) {
  // The broker refuses the device: the credentials pass, the login fails.
  if (!StartBehindSquid("1")) return;
  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login"), Engine(456, "Proxy credentials needed"));
  EXPECT_EQ(Ask("/QvYxModule.dll?operation=init"), Status("qvstatus=456\n\n"));
  ASSERT_TRUE(WaitUntil(
      [&] { return InLog("): QvServer done calling RunDLL: operation=login\n") == 1; }, kWait));
  // Recorded already: no report.
  EXPECT_EQ(InLog("credType=Yxnet"), 0u);

  ASSERT_NE(server->broker()->Admin("/admin/fail?DeviceLogin=status=500"), "");
  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login&" + Creds(kPassword)),
            Engine(500, "Unregistered"));
  EXPECT_EQ(BrokerCount("CheckConnection"), 1u);
  EXPECT_EQ(BrokerCount("DeviceLogin"), 1u);
  EXPECT_EQ(State(), Status("offline"));

  // The tunnel stands but the broker behind it does not answer the check.
  EXPECT_EQ(server->Terminate(), 0) << server->Output();
  server.reset();
  if (!StartBehindSquid("1", {"--fail", "CheckConnection=status=500"})) return;
  EXPECT_EQ(Ask("/QvYxModule.dll?operation=init&" + Creds(kPassword)), Status("qvstatus=450\n\n"));
  EXPECT_EQ(BrokerCount("CheckConnection"), 1u);
  EXPECT_EQ(BrokerCount("DeviceLogin"), 0u);
  // With a tunnel the flag no longer stops a login page: it logs in.
  EXPECT_EQ(Ask("/QVLoginModule.dll?operation=login"), Echo("operation=login"));
  EXPECT_EQ(BrokerCount("DeviceLogin"), 1u);
  EXPECT_TRUE(WaitUntil([&] { return State() == Status("online"); }, kWait)) << State();
}
