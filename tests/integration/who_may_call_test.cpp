// Who may use the local pages, and what floods of callers can do. The tests
// run as root and act as the account "nobody" through setpriv.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);

// argv run as the account "nobody"; a machine that cannot switch accounts
// fails the test (the check would prove nothing otherwise).
std::vector<std::string> AsNobody(const std::vector<std::string>& argv) {
  const std::string setpriv = FindProgram({"/usr/bin/setpriv"});
  EXPECT_FALSE(setpriv.empty()) << "setpriv (util-linux) is needed to act as another account";
  std::vector<std::string> all = {setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                  "--"};
  all.insert(all.end(), argv.begin(), argv.end());
  return all;
}

std::string Details(uint16_t port) {
  return "http://127.0.0.1:" + std::to_string(port) + "/QvStatusModule.dll?operation=details";
}

}  // namespace

TEST(WhoMayCall, AnotherAccountIsClosedAtAcceptAndFloodsLeaveTheBrowserItsShare) {
  // Three quarters of 40 for the other hosts together: 30.
  PeerServer server({.settings = {{"MaxConnections", "40"},
                                  {"MaxConnectionsPerHost", "16"},
                                  {"AllowHosts", "127.0.0.1;127.0.0.3;127.0.0.4;127.0.0.5"}},
                     .modules = {{STATUS_MODULE, "QvStatusModule.dll"}}});
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string index = FileAnswer("text/html", ReadText(server.root() / "index.html"));

  // Connections of another account, more than MaxConnections: every one is
  // closed, long before the 30 s an idle connection of ours may last.
  std::string output;
  EXPECT_EQ(RunCommand(AsNobody(HoldConnections(server.port(), {"127.0.0.1=60"})),
                       std::chrono::seconds(60), &output),
            0);
  EXPECT_TRUE(Contains(output, "closed 60\n"));
  EXPECT_EQ(Get(server.port(), "/index.html").answer, index);
  const std::string refused =
      "Connections closed at accept, another account's "
      "(AllowOtherUsers=1 serves them); first from: 127.0.0.1:";
  EXPECT_TRUE(Eventually([&] { return server.Log(); }, refused));
  EXPECT_TRUE(Contains(server.Log(), ", uid 65534\n"));
  EXPECT_TRUE(Eventually([&] { return server.Log(); }, ", uid 65534 ... and "));  // the burst's count

  // 48 from three AllowHosts machines: 30 are held, 18 closed; the browser
  // is still served.
  const std::vector<std::string> argv =
      HoldConnections(server.port(), {"127.0.0.3=16", "127.0.0.4=16", "127.0.0.5=16"});
  auto flood =
      ChildProcess::Start(argv[0], {argv.begin() + 1, argv.end()}, server.dir() / "flood.out");
  ASSERT_TRUE(flood);
  EXPECT_TRUE(Eventually([&] { return ReadText(server.dir() / "flood.out"); }, "closed 18\n"));
  EXPECT_EQ(Get(server.port(), "/index.html").answer, index);
  EXPECT_TRUE(Contains(server.Log(), "MaxConnections reached; first from: 127.0.0.4"));
}

TEST(WhoMayCall, AllowOtherUsersServesOtherAccounts) {
  PeerServer server(
      {.settings = {{"AllowOtherUsers", "1"}}, .modules = {{STATUS_MODULE, "QvStatusModule.dll"}}});
  ASSERT_TRUE(server.ok()) << server.failure();
  std::string output;
  EXPECT_EQ(RunCommand(
                AsNobody({"/usr/bin/curl", "-s", "-i", "--max-time", "20", Details(server.port())}),
                kWait, &output),
            0);
  EXPECT_TRUE(output.starts_with("HTTP/1.0 200 OK")) << output;
}

TEST(WhoMayCall, JunkRequestsReachTheJournalOncePerBurstWithACount) {
  PeerServerOptions options;
  options.settings = {{"LogLevel", "1"}};
  options.work_files = {
      {"journal.sh", "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2); exec \"$@\"\n"}};
  options.launcher = {"/bin/sh", "journal.sh"};
  options.wait_ready = false;  // LogLevel 1 logs no "LogLevel: "
  PeerServer server(options);
  ASSERT_TRUE(server.ok()) << server.failure();
  // Up once a request is answered: a bare connect, closed before the
  // listener asks who owns it, may or may not count as a junk request.
  ASSERT_TRUE(
      WaitUntil([&] { return !Get(server.configured_port(), "/index.html").answer.empty(); }, kWait));
  for (int i = 0; i < 500; ++i) {
    OpenConnection junk(server.configured_port());
    ASSERT_TRUE(junk.Send("X\r\n\r\n"));
    ASSERT_TRUE(junk.Finish().closed);
  }
  EXPECT_TRUE(Eventually([&] { return server.Output(); },
                         "<3>Couldn't parse request data ... and 499 more in "));
  EXPECT_EQ(Occurrences(server.Output(), "<3>Couldn't parse request data\n"), 1u);
  EXPECT_EQ(Occurrences(server.Log(), "): Couldn't parse request data\n"), 500u);
}
