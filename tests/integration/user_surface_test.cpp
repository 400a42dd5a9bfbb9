// What a person sees: the start page, the terminal, the command line and the
// journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/chromium.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kWait = std::chrono::seconds(30);
// A stalled broker costs the login its 30-second time-out first.
constexpr auto kStallWait = std::chrono::seconds(90);

// Runs peerserver with a terminal on its standard error.
constexpr char kTerminalLauncher[] = "exec script -qefc \"$*\" /dev/null\n";
// Runs it as systemd would: standard error is the stream JOURNAL_STREAM names.
constexpr char kJournalLauncher[] =
    "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2); exec \"$@\"\n";

// What the terminal showed, without the CR of its line ends.
std::string TerminalText(const PeerServer& server) {
  std::string text = server.Output();
  std::erase(text, '\r');
  return text;
}

uint16_t PortOf(const PeerServer& server) {
  return static_cast<uint16_t>(std::atoi(server.Setting("AppPort").c_str()));
}

std::string Details(uint16_t port) {
  return Get(port, "/QvStatusModule.dll?operation=details").answer;
}

}  // namespace

TEST(StartPage, TellsOneStateWithItsTrueReasonEverywhere) {
  if (ChromiumProgram().empty()) GTEST_SKIP() << "chromium is not installed";
  if (FindProgram({"/usr/bin/script"}).empty()) GTEST_SKIP() << "script (util-linux) is missing";
  QvBrokerFixture other_ca(QVBROKER_PROGRAM);
  ASSERT_TRUE(other_ca.ok()) << other_ca.failure();
  const std::string dead_proxy = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort());
  const std::map<std::string, std::string> registered = {{"DeviceUID", kPeerServerDeviceUid},
                                                         {"DeviceSID", kPeerServerDeviceSid}};
  struct Case {
    std::string name;
    std::string state;
    std::string reason;  // a piece of it; the file's path is added where it ends in "of "
    std::string tls;     // the certificate row: what a handshake found, or a piece of it
    PeerServerOptions options;
  };
  std::vector<Case> cases = {
      {"online", "online", "", "verified", {.with_broker = true}},
      {"refused", "offline", ": Connection refused", "not tried yet", {.settings = registered}},
      {"certificate", "offline", ": TLS certificate not verified against BrokerCAFile ",
       "failed: self-signed certificate in certificate chain",
       {.settings = {{"BrokerCAFile", other_ca.ca_file().string()}}, .with_broker = true}},
      {"time-out", "offline", ": no answer within 30 s (time-out)", "verified",
       {.with_broker = true, .broker_args = {"--fail", "stall"}}},
      {"proxy", "offline", "proxy " + dead_proxy.substr(7) + ": Connection refused",
       "not tried yet",
       {.settings = registered,
        .environment = {{"http_proxy", dead_proxy}, {"https_proxy", dead_proxy}, {"no_proxy", ""},
                        {"NO_PROXY", ""}}}},
      {"not-configured", "not configured",
       "set BrokerIP, BrokerSecurePort, DeviceUID and DeviceSID in section [Quovane] of ",
       "not tried: the broker is not configured",
       {.settings = {{"BrokerIP", "0"}, {"BrokerSecurePort", ""}}}},
      // The broker logs the device in but knows no device of its SID: every
      // beat is refused, and each brings one more login.
      {"refused-beats", "offline",
       "the broker does not know this device at its heartbeat (status 404 after each login; "
       "check DeviceSID in ",
       "verified", {.settings = {{"DeviceSID", "a-sid-the-broker-never-gave"}}, .with_broker = true}},
  };
  // Side by side: the stalled broker's login takes its 30 s meanwhile.
  std::vector<std::unique_ptr<PeerServer>> servers;
  for (Case& c : cases) {
    c.options.modules = {{STATUS_MODULE, "QvStatusModule.dll"},
                         {DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"}};
    c.options.work_files = {{"terminal.sh", kTerminalLauncher}};
    c.options.launcher = {"/bin/sh", "terminal.sh"};
    c.options.wait_login = false;
    servers.push_back(std::make_unique<PeerServer>(c.options));
    ASSERT_TRUE(servers.back()->ok()) << servers.back()->failure();
  }
  // While its login waits, the terminal says for what, and the page is
  // there already: it counts the wait's seconds against the time-out.
  PeerServer& stalled = *servers[3];
  const std::string broker_tls = "127.0.0.1:" + std::to_string(stalled.broker()->tls_port());
  ASSERT_TRUE(Eventually([&] { return TerminalText(stalled); },
                         "peerserver: logging in to the broker at " + broker_tls + " (TLS); waiting"));
  const std::string waiting = "\"state\":\"logging in\",\"reason\":\"waiting for " + broker_tls + " (";
  EXPECT_TRUE(Contains(Details(stalled.port()), waiting));
  const std::string stalled_page =
      "http://127.0.0.1:" + std::to_string(stalled.port()) + "/index.html";
  const std::string logging_in = DumpDom(stalled_page);
  EXPECT_TRUE(Contains(logging_in, "<span id=\"state\">logging in</span>"));
  const size_t counted = logging_in.find("<p id=\"reason\">waiting for " + broker_tls + " (");
  EXPECT_NE(counted, std::string::npos) << logging_in;
  EXPECT_NE(logging_in.find(" s of 30)</p>", counted), std::string::npos) << logging_in;
  PageScreenshot(stalled_page, "start-page-logging-in.png", 900, 800);

  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    PeerServer& server = *servers[i];
    std::string reason = c.reason;
    if (reason.ends_with(" of ") || reason.ends_with(" in ")) {
      reason += (server.work() / "vane.ini").string();
    }
    const std::string told = c.state + (reason.empty() ? "\n" : ": ");
    // The terminal tells the state once it is known, the page then answers.
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string text = TerminalText(server);
          const size_t line = text.find(told);
          return line != std::string::npos && text.find(reason, line) != std::string::npos;
        },
        kStallWait))
        << c.name << "\n"
        << TerminalText(server) << server.Log();
    const uint16_t port = PortOf(server);
    const std::string details = Details(port);
    EXPECT_TRUE(Contains(details, "\"state\":\"" + c.state + "\""));
    EXPECT_TRUE(Contains(details, reason));
    EXPECT_TRUE(Contains(server.Log(), "): Broker state: " + told)) << c.name;

    const std::string page = "http://127.0.0.1:" + std::to_string(port) + "/index.html";
    const std::string dom = DumpDom(page);
    EXPECT_TRUE(Contains(dom, "<span id=\"state\">" + c.state + "</span>"));
    const size_t shown = dom.find("<p id=\"reason\">");
    EXPECT_NE(dom.find(reason, shown), std::string::npos) << c.name << "\n" << dom;
    // The channel row says what is required, the certificate row what a
    // handshake found: only a verified one says "verified".
    EXPECT_TRUE(Contains(dom, "<td id=\"channel\" class=\"\">TLS, certificate checked against "))
        << c.name;
    EXPECT_TRUE(Contains(dom, "<td id=\"tls\">" + c.tls)) << c.name;
    EXPECT_EQ(Occurrences(dom, ">verified<"), c.tls == "verified" ? 1u : 0u) << c.name;
    PageScreenshot(page, "start-page-" + c.name + ".png", 900, 800);  // for a person
  }
  // Each refused beat is counted in the details, and brought one login.
  PeerServer& refusing = *servers[6];
  const std::string refused = Details(PortOf(refusing));
  EXPECT_FALSE(Contains(refused, "\"refusedInARow\":0"));
  EXPECT_TRUE(Contains(refused, "\"online\":false"));
  EXPECT_GE(refusing.broker()->PageRequests("DeviceLogin"),
            refusing.broker()->PageRequests("Heartbeat"));

  // Online: the labelled details and the modules (the links are the diagnostic page test's).
  PeerServer& online = *servers[0];
  const std::string dom =
      DumpDom("http://127.0.0.1:" + std::to_string(PortOf(online)) + "/index.html");
  for (const char* label :
       {"Broker address", "Broker channel", "TLS certificate", "Proxy", "Login", "Last heartbeat",
        "Next heartbeat", "Local port", "Version", "Modules"}) {
    EXPECT_TRUE(Contains(dom, std::string("<th>") + label + "</th>"));
  }
  EXPECT_TRUE(Contains(dom, "<td id=\"tls\">verified</td>"));
  EXPECT_TRUE(Contains(dom, "<td id=\"proxy\">none</td>"));
  EXPECT_TRUE(Contains(dom, "QvLoginModule.dll (not installed)"));
  // A page that calls a module the network knows but that is not installed
  // learns which, and where its library would go.
  const std::string share = "/QvShareModule.dll?operation=list";
  EXPECT_EQ(Get(PortOf(online), share).answer.substr(0, 22), "HTTP/1.0 404 Not Found");
  const std::string share_page = "http://127.0.0.1:" + std::to_string(PortOf(online)) + share;
  const std::string not_installed = DumpDom(share_page);
  EXPECT_TRUE(Contains(not_installed,
                       "<p>QvShareModule.dll is a module of the network, but it is not installed "
                       "on this device: its library would be " +
                           (online.root() / "QvShareModule.dll").string() +
                           " (in the web root, AppPath in " +
                           (online.work() / "vane.ini").string() + ").</p>"));
  PageScreenshot(share_page, "module-not-installed.png", 900, 400);
  // The Device page opened by itself says so instead of showing empty fields.
  const std::string device =
      DumpDom("http://127.0.0.1:" + std::to_string(PortOf(online)) + "/vclient/engine.html");
  EXPECT_TRUE(Contains(device, "<span id=\"state\">online</span>"));
  EXPECT_TRUE(Contains(device, "<p id=\"nothing\">"));
  EXPECT_FALSE(Contains(device, "<p id=\"nothing\" hidden"));
  for (auto& server : servers) server->Terminate();
}

// The issue as met: plain heartbeats answered while the login fails on a
// certificate from another CA. The device is offline, for that reason,
// until the CA file is mended; then the heartbeat logs it in again.
TEST(StartPage, TheLoginIsTriedAgainOnceTheCertificateIsMended) {
  QvBrokerFixture other_ca(QVBROKER_PROGRAM);
  ASSERT_TRUE(other_ca.ok()) << other_ca.failure();
  // The broker still has the device logged in from an earlier run.
  PeerServer server({.settings = {{"BrokerCAFile", "ca.pem"},
                                  {"SecureBrokerPages", "0"},
                                  {"HeartbeatSleep", "10000"}},
                     .modules = {{STATUS_MODULE, "QvStatusModule.dll"}},
                     .work_files = {{"ca.pem", ReadText(other_ca.ca_file())}},
                     .with_broker = true,
                     .broker_args = {"--device", std::string("deviceUID=") + kPeerServerDeviceUid +
                                                     "&loggedIn=1"}});
  ASSERT_TRUE(server.ok()) << server.failure();
  std::string details;
  ASSERT_TRUE(WaitUntil(
      [&] {
        details = Details(server.port());
        // Between two logins: the heartbeat answered, the login refused.
        return details.find("\"result\":\"status 200\"") != std::string::npos &&
               details.find("\"state\":\"offline\",\"reason\":\"127.0.0.1:") != std::string::npos;
      },
      kWait))
      << details;
  EXPECT_TRUE(Contains(details, "TLS certificate not verified"));

  WriteText(server.work() / "ca.pem", ReadText(server.broker()->ca_file()));
  ASSERT_TRUE(Eventually([&] { return details = Details(server.port()); }, "\"state\":\"online\""))
      << server.Log();
  EXPECT_TRUE(Contains(details, "\"login\":{\"time\""));
  EXPECT_TRUE(Contains(details, "\"result\":\"logged in\""));
  EXPECT_TRUE(Contains(server.Log(), "no login error on 2nd try. broker key "));
}

TEST(CommandLine, HelpVersionAndUnknownOptionsEndAtOnce) {
  struct Case {
    std::string arguments;
    int status;
    std::string out;  // standard output begins with it
    std::string err;  // standard error begins with it
  };
  const std::string usage = "Usage: peerserver -wbx [-pla]\n";
  const std::vector<Case> cases = {
      {"-h", 0, usage, ""},
      {"--help", 0, usage, ""},
      {"--version", 0, "peerserver 3.6.1 (QvServer 1.160)\n", ""},
      {"--bogus", 2, "", "peerserver: unknown option --bogus\n\n" + usage},
      {"-wbx --pla", 2, "", "peerserver: unknown option --pla\n\n" + usage},
  };
  ScopedWorkDir dir;
  for (const Case& c : cases) {
    std::string out;
    std::string err;
    EXPECT_EQ(RunCommand({"/bin/sh", "-c", PEERSERVER_PROGRAM " " + c.arguments + " 2>/dev/null"},
                         kWait, &out),
              c.status)
        << c.arguments;
    RunCommand({"/bin/sh", "-c", PEERSERVER_PROGRAM " " + c.arguments + " >/dev/null"}, kWait,
               &err);
    EXPECT_EQ(out.substr(0, c.out.size()), c.out) << c.arguments;
    EXPECT_EQ(c.out.empty(), out.empty()) << c.arguments;
    EXPECT_EQ(err.substr(0, c.err.size()), c.err) << c.arguments;
    EXPECT_EQ(c.err.empty(), err.empty()) << c.arguments;
  }
  // None started the boot program or made a file.
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CommandLine, OnATerminalItNamesWhatIsWrongWithTheSetUp) {
  if (FindProgram({"/usr/bin/script"}).empty()) GTEST_SKIP() << "script (util-linux) is missing";
  PeerServer server({.settings = {{"DeviceUID", kPeerServerDeviceUid},
                                  {"DeviceSID", kPeerServerDeviceSid},
                                  {"AppPath", "/nonexistent/webroot"},
                                  {"BrokerCAFile", "vane.ini"}},
                     .work_files = {{"terminal.sh", kTerminalLauncher}},
                     .launcher = {"/bin/sh", "terminal.sh"}});
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::vector<std::string> lines = {
      "peerserver: start page http://127.0.0.1:" + std::to_string(server.port()) + "/index.html\n",
      "peerserver: working directory " + server.work().string() + "; log ",
      ": offline: 127.0.0.1:" + server.Setting("BrokerSecurePort") +
          ": no usable CA certificate in vane.ini\n",
      "peerserver: web root /nonexistent/webroot cannot be read: No such file or directory\n",
      "peerserver: BrokerCAFile vane.ini holds no PEM certificate\n"};
  // The terminal passes the lines on one by one: wait for them all.
  auto all_there = [&] {
    const std::string text = TerminalText(server);
    for (const std::string& line : lines) {
      if (text.find(line) == std::string::npos) return false;
    }
    return true;
  };
  EXPECT_TRUE(WaitUntil(all_there, kWait)) << TerminalText(server);
  // The problems are logged as failures too.
  EXPECT_TRUE(Contains(server.Log(), "): Start-up check: BrokerCAFile vane.ini holds no PEM"));
  server.Terminate();
}

// Under systemd the failures reach standard error (the journal) whatever
// LogLevel says; a stream that merely inherited the variable gets nothing;
// a normal stop adds no failure.
TEST(Journal, FailuresReachStandardErrorUnderSystemd) {
  for (const bool journal : {true, false}) {
    // Nothing to log in to: no failures come later than the state. LogLevel 0
    // logs no "LogLevel: " to wait for.
    PeerServer server(
        {.settings = {{"LogLevel", "0"}, {"BrokerIP", "0"}},
         .work_files = {{"journal.sh", kJournalLauncher}},
         .launcher = journal ? std::vector<std::string>{"/bin/sh", "journal.sh"}
                             : std::vector<std::string>{"/usr/bin/env", "JOURNAL_STREAM=1:1"},
         .wait_ready = false});
    ASSERT_TRUE(server.ok()) << server.failure();
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(server.doc() / "port.js"); }, kWait));
    const std::string state =
        "<3>Broker state: not configured: set BrokerIP, DeviceUID and "
        "DeviceSID in section [Quovane] of " +
        (server.work() / "vane.ini").string() + " (";
    if (journal) {
      ASSERT_TRUE(Eventually([&] { return server.Output(); }, state));
      EXPECT_TRUE(Contains(server.Output(),
                           "<3>Broker not configured, no login and no heartbeat; missing in "));
    }
    const size_t before = server.Output().size();
    EXPECT_EQ(server.Terminate(), 0);
    EXPECT_EQ(server.Output().substr(before), "");
    EXPECT_TRUE(journal || server.Output().empty()) << server.Output();
    EXPECT_FALSE(fs::exists(server.work() / "QvDebuglog.bak"));  // LogLevel 0: no log file
  }
}
