// The peerserver program as a user or the boot program starts it: the boot
// flag, one copy per session, a failed start, the ways it is told to end,
// and curl as a client of the running server.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/environment.h"
#include "platform/window_endpoint.h"
#include "server/listener.h"
#include "support/child_process.h"
#include "support/peerserver_fixture.h"
#include "support/port_blocker.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kExitTimeout = std::chrono::seconds(60);

bool HasLine(const std::string& log, const std::string& message) {
  return log.find("): " + message + "\n") != std::string::npos;
}

void ExpectOrderlyShutdown(const PeerServer& server) {
  // The debug log was moved aside as the last step.
  EXPECT_FALSE(fs::exists(server.work() / "QvDebug.log"));
  const std::string log = ReadText(server.work() / "QvDebuglog.bak");
  EXPECT_TRUE(HasLine(log, "ShutdownServer()"));
  EXPECT_TRUE(HasLine(log, "Exiting QvServer"));
  EXPECT_LT(log.find("ShutdownServer()"), log.find("Exiting QvServer"));
}

std::string Curl(const std::vector<std::string>& args, int* status = nullptr) {
  std::vector<std::string> argv = {"/usr/bin/curl", "-sS", "--max-time", "30"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string output;
  int result = RunCommand(argv, std::chrono::seconds(60), &output);
  if (status != nullptr) *status = result;
  return output;
}

}  // namespace

TEST(PeerServerStart, WithoutTheBootFlagItStartsTheBootProgramInstead) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"-WBX"}}) {
    PeerServerOptions options;
    options.args = args;
    options.wait_ready = false;
    PeerServer server(options);
    ASSERT_TRUE(server.ok()) << server.failure();
    // -2 as a process status.
    EXPECT_EQ(server.WaitExit(kExitTimeout), 254);
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(server.work() / "vaneboot-ran"); },
                          std::chrono::seconds(10)));
    const std::string log = server.Log();
    EXPECT_TRUE(HasLine(log, "===>No vaneboot flag - exiting."));
    EXPECT_FALSE(HasLine(log, "Starting QvServer"));
    // Neither a window nor a socket.
    EXPECT_FALSE(fs::exists(server.session() / "Yxnet.sock"));
    EXPECT_EQ(server.Setting("AppPort"), std::to_string(server.configured_port()));
    EXPECT_FALSE(fs::exists(server.doc() / "port.js"));
  }
}

TEST(PeerServerStart, ASecondCopyEndsAndTheFirstServesOn) {
  PeerServer server;
  ASSERT_TRUE(server.ok()) << server.failure();
  EXPECT_EQ(server.RunSecondCopy({"-wbx"}, kExitTimeout), 255);  // -1
  EXPECT_TRUE(HasLine(server.Log(), "Yxnet is already running. Exiting"));
  int status = -1;
  EXPECT_NE(Curl({"http://127.0.0.1:" + std::to_string(server.port()) + "/index.html"}, &status)
                .find("<h1>Yxnetwork</h1>"),
            std::string::npos);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(server.Terminate(), 0) << server.Output();
}

TEST(PeerServerStart, WithEveryCandidatePortTakenItLogsOutAndEndsWithZero) {
  PeerServerOptions options;
  options.with_broker = true;
  options.wait_ready = false;
  options.settings["AppPort"] = std::to_string(FreeLoopbackPort());
  const int configured = std::stoi(options.settings["AppPort"]);
  std::vector<uint16_t> candidates = FirstPassPorts(configured);
  for (uint16_t port : SecondPassPorts()) candidates.push_back(port);
  PortBlocker blocker(candidates);
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  EXPECT_EQ(server.WaitExit(kExitTimeout), 0) << server.Output();
  const std::string log = server.Log();
  EXPECT_TRUE(HasLine(log, "Unable to bind to port range. Returning failure."));
  EXPECT_TRUE(HasLine(log, "Unable to StartHTTP"));
  EXPECT_TRUE(HasLine(log, "StartHTTP failed - you may wish to check that the port is freed: "
                           "szPort = : " + std::to_string(configured)));
  EXPECT_FALSE(fs::exists(server.doc() / "port.js"));
  bool logged_out = false;
  for (const std::string& request : server.broker()->Requests()) {
    if (request.find("/asys/DeviceLogout.jsp?") != std::string::npos) logged_out = true;
  }
  EXPECT_TRUE(logged_out);
}

TEST(PeerServerStart, RecordsItsPortAndKeepsAPageWithoutPort) {
  PeerServer server;
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(ReadText(server.doc() / "port.js"),
            "// Written by the server at start: the port its pages are served on.\n"
            "var QvPort = " + port + ";\n");
  // Without ':' the start page names no port and stays as it is.
  EXPECT_EQ(server.Setting("DefaultPage"), "index.html");
  EXPECT_EQ(server.Terminate(), 0) << server.Output();
}

TEST(PeerServerStart, TerminationSignalsEndItInOrder) {
  {
    PeerServer server;
    ASSERT_TRUE(server.ok()) << server.failure();
    EXPECT_EQ(server.Terminate(), 0) << server.Output();
    ExpectOrderlyShutdown(server);
  }
  {
    PeerServer server;
    ASSERT_TRUE(server.ok()) << server.failure();
    EXPECT_EQ(server.Interrupt(), 0);
    ExpectOrderlyShutdown(server);
  }
}

// Closing the window, or the end of the session, ends the program; either
// way its window is gone for the next start.
TEST(PeerServerStart, ClosingItsWindowOrEndingTheSessionEndsIt) {
  for (const char* message : {"WM_CLOSE", "WM_QUERYENDSESSION"}) {
    PeerServer server;
    ASSERT_TRUE(server.ok()) << server.failure();
    const auto previous = platform::GetEnvironment("XDG_RUNTIME_DIR");
    platform::SetEnvironment("XDG_RUNTIME_DIR", server.session().string());
    EXPECT_TRUE(platform::PostToWindow("Yxnet", message));
    EXPECT_EQ(server.WaitExit(kExitTimeout), 0) << message;
    EXPECT_FALSE(platform::WindowExists("Yxnet")) << message;
    platform::SetEnvironment("XDG_RUNTIME_DIR", previous);
    ExpectOrderlyShutdown(server);
    EXPECT_EQ(HasLine(ReadText(server.work() / "QvDebuglog.bak"), "MainWndProc Getting WM_DESTROY"),
              std::string_view(message) == "WM_CLOSE");
  }
}

TEST(PeerServerCurl, FilesErrorsAndModules) {
  PeerServerOptions options;
  options.with_broker = true;
  options.modules = {{TEST_MODULE_DIR "/QvExampleModule.dll", "QvExampleModule.dll"},
                     {TEST_MODULE_DIR "/BytesSentModule.dll", "BytesSentModule.dll"}};
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());

  std::string head = Curl({"-i", base + "/vclient/status.js"});
  EXPECT_EQ(head.rfind("HTTP/1.0 200 OK\nContent-Type: application/javascript\nContent-Length: " +
                           std::to_string(fs::file_size(server.root() / "vclient/status.js")) +
                           "\n\n",
                       0),
            0u)
      << head;
  EXPECT_EQ(Curl({"-o", "/dev/null", "-w", "%{http_code}", base + "/missing.html"}), "404");
  // Refused: curl sees the connection end without a reply.
  int status = 0;
  Curl({base + "/vane.ini"}, &status);
  EXPECT_EQ(status, 52);
  // Module answers (the device is online at the broker).
  EXPECT_EQ(Curl({base + "/QvExampleModule.dll?greeting=hello&to=curl"}),
            "greeting=hello\nto=curl\n");
  // Ten bytes and no status line: an HTTP/0.9 answer to curl.
  EXPECT_EQ(Curl({"--http0.9", base + "/BytesSentModule.dll?x=1"}, &status), "0123456789");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(server.Terminate(), 0) << server.Output();
}
