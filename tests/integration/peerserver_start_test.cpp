// The peerserver program as a user or the boot program starts it, and the
// ways it is told to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_endpoint.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/port_blocker.h"
#include "support/record_bytes.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kExitTimeout = std::chrono::seconds(60);
constexpr auto kWait = std::chrono::seconds(30);
constexpr const char* kNotMapped[] = {
    "QvExampleModule.dll", "BytesSentModule.dll", "libqvdesktop.so", "libgtk", "libgdk", "libglib"};

// The log as shutdown left it: a thread still running may start a new one.
std::string FinalLog(const PeerServer& server) {
  return ReadText(server.work() / "QvDebuglog.bak");
}

void ExpectOrderlyShutdown(const PeerServer& server) {
  // The debug log was moved aside as the last step.
  EXPECT_FALSE(fs::exists(server.work() / "QvDebug.log"));
  const std::string log = FinalLog(server);
  EXPECT_TRUE(HasLogLine(log, "Exiting QvServer"));
  EXPECT_LT(LogLinePosition(log, "ShutdownServer()"), LogLinePosition(log, "Exiting QvServer"));
}

// With a broker, and no second beat while the test runs.
PeerServerOptions WithBroker(std::vector<std::string> broker_args = {}) {
  return {.settings = {{"HeartbeatSleep", "3600000"}}, .with_broker = true,
          .broker_args = std::move(broker_args)};
}

}  // namespace

TEST(PeerServerStart, WithoutTheBootFlagItStartsTheBootProgramInstead) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"-WBX"}}) {
    PeerServer server({.args = args, .wait_ready = false});
    ASSERT_TRUE(server.ok()) << server.failure();
    // -2 as a process status.
    EXPECT_EQ(server.WaitExit(kExitTimeout), 254);
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(server.work() / "vaneboot-ran"); },
                          std::chrono::seconds(10)));
    const std::string log = server.Log();
    EXPECT_TRUE(HasLogLine(log, "===>No vaneboot flag - exiting."));
    EXPECT_FALSE(HasLogLine(log, "Starting QvServer"));
    // Neither a window nor a socket.
    EXPECT_FALSE(fs::exists(server.session() / "Yxnet.sock"));
    EXPECT_EQ(server.Setting("AppPort"), std::to_string(server.configured_port()));
    EXPECT_FALSE(fs::exists(server.doc() / "port.js"));
  }
}

TEST(PeerServerStart, WithEveryCandidatePortTakenItLogsOutAndEndsWithZero) {
  const uint16_t configured = FreeLoopbackPort();
  // Every port it may try: the configured one, 81 to 100, 4080 to 4999.
  std::vector<uint16_t> candidates = {configured};
  for (int port = 81; port <= 100; ++port) candidates.push_back(static_cast<uint16_t>(port));
  for (int port = 4080; port <= 4999; ++port) candidates.push_back(static_cast<uint16_t>(port));
  PortBlocker blocker(candidates);
  PeerServer server({.settings = {{"AppPort", std::to_string(configured)}}, .with_broker = true,
                     .wait_ready = false});
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::optional<int> status = server.WaitExit(kExitTimeout);
  blocker.StopRetrying();
  // A port another process held while the blocker tried, and freed for the
  // program rather than for the blocker, is named; nothing else may fail.
  const std::vector<uint16_t> missed = blocker.missed();
  const std::string took = server.Setting("AppPort");
  for (uint16_t port : missed) {
    ASSERT_NE(took, std::to_string(port)) << "the program took port " << port
                                          << ", which another process held while the blocker tried";
  }
  EXPECT_EQ(status, 0) << server.Output();
  const std::string log = server.Log();
  EXPECT_TRUE(HasLogLine(log, "Unable to bind to port range. Returning failure."));
  EXPECT_TRUE(HasLogLine(log, "Unable to StartHTTP"));
  EXPECT_TRUE(HasLogLine(log,
                         "StartHTTP failed - you may wish to check that the port is freed: "
                         "szPort = : " +
                             std::to_string(configured)));
  EXPECT_FALSE(fs::exists(server.doc() / "port.js"));
  const std::vector<std::string> requests = server.broker()->Requests();
  EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const std::string& request) {
    return request.starts_with("GET /asys/DeviceLogout.jsp?");
  }));
}

TEST(PeerServerStart, ItServesCurlOutlivesASecondCopyAndLogsOutOnSigterm) {
  PeerServerOptions options = WithBroker();
  options.modules = {{TEST_MODULE_DIR "/QvExampleModule.dll", "QvExampleModule.dll"},
                     {TEST_MODULE_DIR "/BytesSentModule.dll", "BytesSentModule.dll"}};
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  ASSERT_TRUE(Eventually([&] { return server.Log(); }, "): HeartbeatThread status is OK\n"));
  const std::string port = std::to_string(server.port());
  const std::string base = "http://127.0.0.1:" + port;
  EXPECT_EQ(ReadText(server.doc() / "port.js"),
            "// Written by the server at start: the port its pages are served on.\n"
            "var QvPort = " +
                port + ";\n");
  // Without ':' the start page names no port and stays as it is.
  EXPECT_EQ(server.Setting("DefaultPage"), "index.html");

  EXPECT_EQ(server.RunSecondCopy({"-wbx"}, kExitTimeout), 255);  // -1
  EXPECT_TRUE(HasLogLine(server.Log(), "Yxnet is already running. Exiting"));
  int status = -1;
  EXPECT_NE(Curl({base + "/index.html"}, &status).find("<h1>Yxnetwork</h1>"), std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Curl({"-o", "/dev/null", "-w", "%{http_code}", base + "/missing.html"}), "404");
  // Module answers (the device is online at the broker).
  EXPECT_EQ(Curl({base + "/QvExampleModule.dll?greeting=hello&to=curl"}),
            "greeting=hello\nto=curl\n");
  // Ten bytes and no status line: an HTTP/0.9 answer to curl.
  EXPECT_EQ(Curl({"--http0.9", base + "/BytesSentModule.dll?x=1"}, &status), "0123456789");
  EXPECT_EQ(status, 0);
  // Nothing of a module outlives its call; headless, nothing of the desktop
  // is mapped at all.
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string maps = server.Maps();
        return std::none_of(std::begin(kNotMapped), std::end(kNotMapped),
                            [&](const char* name) { return maps.find(name) != std::string::npos; });
      },
      kWait))
      << server.Maps();

  // The heartbeat waits an hour for its next beat; SIGTERM logs out and ends.
  EXPECT_EQ(server.Terminate(), 0) << server.Output();
  ExpectOrderlyShutdown(server);
  const std::string log = FinalLog(server);
  EXPECT_LT(LogLinePosition(log, "ShutdownServer()"), LogLinePosition(log, "QvDeviceLogout()"));
  EXPECT_LT(LogLinePosition(log, "QvDeviceLogout()"), LogLinePosition(log, "Exiting QvServer"));
  const std::vector<std::string> requests = server.broker()->RequestLines();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back(), std::string("GET /asys/DeviceLogout.jsp?deviceUID=") +
                                 kPeerServerDeviceUid + " SSL/3.1");
  EXPECT_EQ(server.broker()->PageRequests("Heartbeat"), 1u);
}

// A transfer file whose header claims 2^31-1 rows over a sparse file of
// 5 TB (which costs no disk) is damage: set aside at once, holes kept; the
// pages are served and SIGTERM ends the program in time.
TEST(PeerServerStart, ARecordFileClaimingBillionsOfRowsIsSetAsideAtOnce) {
  constexpr int64_t kClaimed = 24 + int64_t{INT32_MAX} * 2364;
  PeerServer server(
      {.work_files = {{"qvxfer.dat", record_bytes::Header(2002, 2364, INT32_MAX, -1)}},
       .launcher = {"/bin/sh", "-c",
                    "truncate -s " + std::to_string(kClaimed) + " qvxfer.dat && exec \"$@\"", "sh"}});
  ASSERT_TRUE(server.ok()) << server.failure();
  EXPECT_TRUE(Eventually([&] { return server.Log(); },
                         "): QvDataFile damaged (more rows than a record file holds)",
                         std::chrono::seconds(5)));
  EXPECT_TRUE(Contains(Get(server.port(), "/index.html").answer, "Yxnetwork"));
  for (const char* name : {"qvxfer.dat", "qvxfer.dat.damaged"}) {
    struct stat st {};
    ASSERT_EQ(::stat((server.work() / name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_size, kClaimed) << name;
    EXPECT_LT(st.st_blocks * 512, 1 << 20) << name;  // still sparse
  }
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(std::chrono::seconds(5)), 0);
}

// Every way of asking for the stop ends the program at once, whatever login
// or beat waits for a broker that never answers: the request under way is
// stopped (the log says so), not left to its 30-second time-out. A device
// that never logged in does not log out; one whose session stands does.
// The window is gone for the next start.
TEST(Shutdown, AStopEndsTheProgramWhateverLoginOrBeatWaitsFor) {
  enum class Waiting { kLoginAtStart, kBeat, kLoginPage };
  struct Case {
    std::string stop;  // a signal, or the line another program sends the window
    Waiting waiting;
    std::vector<std::string> broker_args;
    size_t logouts;
  };
  const std::vector<std::string> login_stalls = {"--fail", "DeviceLogin=stall"};
  const std::vector<Case> cases = {
      {"SIGTERM", Waiting::kLoginAtStart, login_stalls, 0},
      {"SIGINT", Waiting::kLoginAtStart, login_stalls, 0},
      {"WM_CLOSE", Waiting::kLoginAtStart, login_stalls, 0},
      {"WM_QUERYENDSESSION", Waiting::kLoginAtStart, login_stalls, 0},
      {"WM_COMMAND 40001", Waiting::kLoginAtStart, login_stalls, 0},  // the tray's Exit
      {"SIGTERM", Waiting::kBeat, {"--fail", "Heartbeat=stall"}, 1},
      // Offline from the start (the login fails, the beats are refused), so
      // a login page logs in first: it counts the device online meanwhile.
      {"SIGTERM", Waiting::kLoginPage,
       {"--fail", "DeviceLogin=reset", "--fail", "Heartbeat=status=500"}, 1},
  };
  for (const Case& c : cases) {
    PeerServerOptions options = WithBroker(c.broker_args);
    options.wait_login = c.waiting != Waiting::kLoginAtStart;
    PeerServer server(options);
    ASSERT_TRUE(server.ok()) << server.failure();
    QvBrokerFixture& broker = *server.broker();
    std::optional<OpenConnection> page;
    if (c.waiting == Waiting::kLoginPage) {
      // The first beat's failure has set the device offline before the page.
      ASSERT_TRUE(Eventually([&] { return server.Log(); }, "HeartbeatThread status not OK: "));
      ASSERT_NE(broker.Admin("/admin/fail?DeviceLogin=stall"), "");
      page.emplace(server.port());
      ASSERT_TRUE(page->Send("GET /QVLoginModule.dll?operation=login HTTP/1.0\r\n\r\n"));
    }
    const char* page_name = c.waiting == Waiting::kBeat ? "Heartbeat" : "DeviceLogin";
    const size_t asked = c.waiting == Waiting::kLoginPage ? 2 : 1;
    ASSERT_TRUE(WaitUntil([&] { return broker.PageRequests(page_name) >= asked; }, kWait))
        << c.stop << "\n" << server.Log();

    ScopedEnvironment session({{"XDG_RUNTIME_DIR", server.session().string()}});
    if (c.stop.starts_with("SIG")) {
      server.Signal(c.stop == "SIGTERM" ? SIGTERM : SIGINT);
    } else {
      ASSERT_TRUE(platform::PostToWindow("Yxnet", c.stop.c_str()));
    }
    EXPECT_EQ(server.WaitExit(kExitTimeout), 0) << c.stop << "\n" << server.Output();
    EXPECT_FALSE(platform::WindowExists("Yxnet")) << c.stop;
    const std::string log = FinalLog(server);
    if (c.stop.starts_with("WM_")) {
      EXPECT_EQ(HasLogLine(log, "MainWndProc Getting WM_DESTROY"), c.stop != "WM_QUERYENDSESSION");
    }
    // The request itself saw the stop, before the program ended.
    EXPECT_TRUE(HasLogLine(log, "Outbound requests stopped, under way: 1")) << c.stop << log;
    EXPECT_LT(LogLinePosition(log, "ConnectRequest(): stopped, the program is ending"),
              LogLinePosition(log, "Exiting QvServer"))
        << c.stop << log;
    EXPECT_EQ(broker.PageRequests("DeviceLogout"), c.logouts) << c.stop;
    if (c.waiting == Waiting::kLoginAtStart) {
      EXPECT_TRUE(HasLogLine(log, "Login at start: stopped")) << log;
    }
  }
}

TEST(Shutdown, ABusyTransferModuleGetsAboutTenSeconds) {
  PeerServerOptions options = WithBroker();
  options.modules = {{TEST_MODULE_DIR "/SlowModule.dll", "QvTransferModule.dll"}};
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();

  // One call outlasts the wait; the other ends when released.
  OpenConnection outlasting(server.port());
  OpenConnection released(server.port());
  ASSERT_TRUE(outlasting.Send("GET /QvTransferModule.dll?hold=120000 HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(released.Send("GET /QvTransferModule.dll?job=2 HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string log = server.Log();
        const size_t first = log.find("CALLING with BrokerKEY");
        return first != std::string::npos &&
               log.find("CALLING with BrokerKEY", first + 1) != std::string::npos;
      },
      kWait))
      << server.Log();

  server.Signal(SIGTERM);
  ASSERT_TRUE(Eventually([&] { return server.Log(); }, "): Exiting QvServer\n"));
  // Its last log line is written, and it waits for the module.
  EXPECT_FALSE(server.WaitExit(std::chrono::milliseconds(0)).has_value());
  WriteText(server.work() / "release-slow", "");
  EXPECT_EQ(released.Finish().answer, std::string(kEchoHead) + "slow done job=2");

  // The other call never ends in time; the wait does.
  EXPECT_EQ(server.WaitExit(std::chrono::seconds(40)), 0) << server.Output();
  const std::string log = FinalLog(server);
  const size_t done = LogLinePosition(log, "QvServer done calling RunDLL: job=2");
  ASSERT_NE(done, std::string::npos) << log;
  EXPECT_LT(LogLinePosition(log, "Exiting QvServer"), done);
  EXPECT_FALSE(HasLogLine(log, "QvServer done calling RunDLL: hold=120000"));
  HttpExchange cut = outlasting.Finish();
  EXPECT_TRUE(cut.closed);
  EXPECT_EQ(cut.answer, "");
}
