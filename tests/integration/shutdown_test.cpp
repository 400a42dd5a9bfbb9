// How peerserver ends on SIGTERM while its broker session is busy: the
// heartbeat in its long wait, a login that the broker never answers, and a
// transfer module still at work (the program gives it about ten seconds).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);

bool HasLine(const std::string& log, const std::string& message) {
  return log.find("): " + message + "\n") != std::string::npos;
}

// The log as shutdown left it: a thread still running may start a new one.
std::string FinalLog(const PeerServer& server) {
  return ReadText(server.work() / "QvDebuglog.bak");
}

size_t Position(const std::string& log, const std::string& message) {
  return log.find("): " + message + "\n");
}

std::string RequestLine(const std::string& request) {
  return request.substr(0, request.find('\n'));
}

size_t Count(const QvBrokerFixture& broker, const std::string& page) {
  size_t count = 0;
  for (const std::string& request : broker.Requests()) {
    if (RequestLine(request).find("/asys/" + page + ".jsp?") != std::string::npos) ++count;
  }
  return count;
}

}  // namespace

TEST(Shutdown, WithTheHeartbeatWaitingItLogsOutAndEnds) {
  PeerServerOptions options;
  options.with_broker = true;
  options.settings = {{"HeartbeatSleep", "3600000"}};
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  QvBrokerFixture& broker = *server.broker();
  // The first beat is done: the thread waits an hour for the next.
  ASSERT_TRUE(
      WaitUntil([&] { return HasLine(server.Log(), "HeartbeatThread status is OK"); }, kWait))
      << server.Log();

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(kWait), 0) << server.Output();
  const std::string log = FinalLog(server);
  EXPECT_LT(Position(log, "ShutdownServer()"), Position(log, "QvDeviceLogout()"));
  EXPECT_LT(Position(log, "QvDeviceLogout()"), Position(log, "Exiting QvServer"));
  EXPECT_NE(Position(log, "Exiting QvServer"), std::string::npos);
  const std::vector<std::string> requests = broker.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(RequestLine(requests.back()), std::string("GET /asys/DeviceLogout.jsp?deviceUID=") +
                                              kPeerServerDeviceUid + " SSL/3.1");
  EXPECT_EQ(Count(broker, "Heartbeat"), 1u);
}

TEST(Shutdown, DuringALoginThatNeverGetsAnAnswer) {
  PeerServerOptions options;
  options.with_broker = true;
  options.broker_args = {"--fail", "DeviceLogin=stall"};
  options.settings = {{"HeartbeatSleep", "3600000"}};
  // The login at start holds up the listener until it gives up.
  options.wait_ready = false;
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  QvBrokerFixture& broker = *server.broker();
  ASSERT_TRUE(WaitUntil([&] { return Count(broker, "DeviceLogin") >= 1; }, kWait)) << server.Log();

  server.Signal(SIGTERM);
  // The login gives up after the outbound time-out (30 s); then the
  // program ends as asked.
  EXPECT_EQ(server.WaitExit(std::chrono::seconds(60)), 0) << server.Output();
  const std::string log = FinalLog(server);
  EXPECT_TRUE(HasLine(log, "Error on device login. Awaiting correction")) << log;
  EXPECT_LT(Position(log, "Error on device login. Awaiting correction"),
            Position(log, "ShutdownServer()"));
  EXPECT_TRUE(HasLine(log, "Exiting QvServer"));
  // Never logged in, so no logout.
  EXPECT_EQ(Count(broker, "DeviceLogout"), 0u);
}

TEST(Shutdown, DuringALoginPagesLoginThatNeverGetsAnAnswer) {
  PeerServerOptions options;
  options.with_broker = true;
  // Offline from the start (the login fails, the beats are refused), so a
  // login page logs in first.
  options.broker_args = {"--fail", "DeviceLogin=reset", "--fail", "Heartbeat=status=500"};
  options.settings = {{"HeartbeatSleep", "3600000"}};
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  QvBrokerFixture& broker = *server.broker();
  ASSERT_TRUE(HasLine(server.Log(), "Error on device login. Awaiting correction")) << server.Log();
  ASSERT_NE(broker.Admin("/admin/fail?DeviceLogin=stall"), "");
  OpenConnection page(server.port());
  ASSERT_TRUE(page.Send("GET /QVLoginModule.dll?operation=login HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(WaitUntil([&] { return Count(broker, "DeviceLogin") == 2; }, kWait));

  // The connection's thread is not waited for.
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitExit(kWait), 0) << server.Output();
  EXPECT_TRUE(HasLine(FinalLog(server), "Exiting QvServer"));
  // The page counted the device online before its login began.
  EXPECT_EQ(Count(broker, "DeviceLogout"), 1u);
}

TEST(Shutdown, ABusyTransferModuleGetsAboutTenSeconds) {
  PeerServerOptions options;
  options.with_broker = true;
  options.settings = {{"HeartbeatSleep", "3600000"}};
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
        size_t calls = 0;
        for (size_t at = log.find("CALLING with BrokerKEY"); at != std::string::npos;
             at = log.find("CALLING with BrokerKEY", at + 1)) {
          ++calls;
        }
        return calls == 2;
      },
      kWait))
      << server.Log();

  server.Signal(SIGTERM);
  ASSERT_TRUE(WaitUntil([&] { return HasLine(server.Log(), "Exiting QvServer"); }, kWait))
      << server.Log();
  // Its last log line is written, and it waits for the module.
  EXPECT_FALSE(server.WaitExit(std::chrono::milliseconds(0)).has_value());
  WriteText(server.work() / "release-slow", "");
  HttpExchange answer = released.Finish();
  EXPECT_EQ(answer.answer, "HTTP/1.0 200 OK\nContent-Type: text/plain\n\nslow done job=2");

  // The other call never ends in time; the wait does.
  EXPECT_EQ(server.WaitExit(std::chrono::seconds(40)), 0) << server.Output();
  const std::string log = FinalLog(server);
  const size_t exiting = Position(log, "Exiting QvServer");
  const size_t done = Position(log, "QvServer done calling RunDLL: job=2");
  ASSERT_NE(done, std::string::npos) << log;
  EXPECT_LT(exiting, done);
  EXPECT_FALSE(HasLine(log, "QvServer done calling RunDLL: hold=120000"));
  HttpExchange cut = outlasting.Finish();
  EXPECT_TRUE(cut.closed);
  EXPECT_EQ(cut.answer, "");
}
