// Module calls through the listener in this process, for what only this
// process can see.
#include "support/local_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "base/bounded_copy.h"
#include "base/log.h"
#include "host/module_host.h"
#include "platform/socket.h"
#include "server/listener.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/loopback.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

// What the echo module returns, and what the browser gets of it.
const std::string kModuleHead = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";

class ModuleHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok()) << server.failure();
    QvLog::ReleaseInstance();  // rereads LogLevel, which another suite may have changed
  }
  std::string Answer(const std::string& target) const { return Get(server.port(), target).answer; }
  // The request as the client thread serves it for a connection from peer,
  // whatever the listener would have done with it.
  std::string ServeFrom(const std::string& peer, const std::string& target) {
    LoopbackPair pair;
    platform::Send(pair.client(), "GET " + target + " HTTP/1.0\r\n\r\n");
    platform::ShutdownSend(pair.client());
    auto* request = new tagREQUEST{};
    request->hSocket = pair.ReleaseServer();
    CopyBounded(request->szRemoteAddr, peer);
    ClientThread(request);
    return pair.ReadAll(pair.client());
  }

  LocalServer& server = LocalServer::Instance();
};

}  // namespace

TEST_F(ModuleHostTest, AThrowingModuleIsReleased) {
  EXPECT_EQ(Get(server.port(), "/ThrowingModule.dll?boom=1").answer, "");
  EXPECT_EQ(server.UseCount("ThrowingModule.dll"), 0);
  EXPECT_EQ(Answer("/QvExampleModule.dll?after=1"), std::string(kEchoHead) + "after=1\n");
  EXPECT_EQ(server.UseCount("QvExampleModule.dll"), 0);
}

// A device message's module comes from the working directory; what it
// throws stays on its own thread.
TEST_F(ModuleHostTest, ADeviceMessageRunsItsModuleAndOutlivesAThrow) {
  for (const char* name : {"QvExampleModule.dll", "ThrowingModule.dll"}) {
    // Once per process: a module that threw stays loaded, and writing over
    // its file would change the code under it.
    fs::copy_file(fs::path(TEST_MODULE_DIR) / name, name, fs::copy_options::skip_existing);
  }
  // The server and its log live as long as the process: a query of this
  // run's own, so that an earlier run's line cannot answer for it.
  static int run = 0;
  const std::string query = "m=" + std::to_string(++run);
  CallExtensionDll(new ExtensionCall{query, "QvExampleModule.dll"});
  EXPECT_TRUE(Logged("Response from module: : " + kModuleHead + query + "\n"));
  CallExtensionDll(new ExtensionCall{"boom=1", "ThrowingModule.dll"});
  EXPECT_TRUE(Logged("*****************Exception calling module: ThrowingModule.dll"));
  EXPECT_EQ(server.UseCount("ThrowingModule.dll"), 0);
  EXPECT_EQ(server.UseCount("QvExampleModule.dll"), 0);
}

// The client thread's own check: the listener turns other hosts away only
// once the device is loaded, and admits everyone before.
TEST_F(ModuleHostTest, TheClientThreadCallsModulesForAllowedHostsOnly) {
  EXPECT_EQ(ServeFrom("127.0.0.1", "/QvExampleModule.dll?from=1"),
            std::string(kEchoHead) + "from=1\n");
  EXPECT_EQ(ServeFrom("127.0.0.2", "/QvExampleModule.dll?from=2"), "");
  EXPECT_TRUE(Logged("Invalid host : 127.0.0.2"));
}

TEST_F(ModuleHostTest, AModuleInUseCountsOne) {
  fs::remove("release-slow");
  fs::remove("slow-entered");
  std::string answer;
  std::thread client([&] { answer = Answer("/SlowModule.dll?q=7"); });
  EXPECT_TRUE(WaitUntil([] { return fs::exists("slow-entered"); }, std::chrono::seconds(10)));
  EXPECT_EQ(server.UseCount("SlowModule.dll"), 1);
  WriteText("release-slow", "");
  client.join();
  EXPECT_EQ(answer, std::string(kEchoHead) + "slow done q=7");
  EXPECT_EQ(server.UseCount("SlowModule.dll"), 0);
  fs::remove("release-slow");
}

TEST_F(ModuleHostTest, TheHelpAnswerReachesTheMainWindow) {
  std::promise<std::pair<int, std::string>> posted;
  std::atomic<int> posts = 0;
  SetMainWindowPoster([&](int command, std::string text) {
    if (posts++ == 0) posted.set_value({command, std::move(text)});
  });
  const std::string answer = Answer("/QvExampleModule.dll?operation=displayhelp&file=qv.chm");
  EXPECT_EQ(answer, std::string(kEchoHead) + "operation=displayhelp\nfile=qv.chm\n");
  Answer("/QvExampleModule.dll?operation=status");  // posts nothing
  auto future = posted.get_future();
  const bool ready = future.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  SetMainWindowPoster(nullptr);
  ASSERT_TRUE(ready);
  EXPECT_EQ(future.get(), std::make_pair(kCommandDisplayHelp,
                                         kModuleHead + "operation=displayhelp\nfile=qv.chm\n"));
  EXPECT_EQ(posts, 1);
}
