// Module requests through the listener in this process: the web call with
// the test modules, the transfer module's immediate answers, use counts,
// what reaches the log and what reaches the main window.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "server/module_host.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/local_server.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr char kEchoHead[] = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";

class ModuleHostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ok()) << server.failure(); }

  void ExpectNoAnswer(const HttpExchange& exchange) const {
    EXPECT_TRUE(exchange.connected);
    EXPECT_TRUE(exchange.closed);
    EXPECT_EQ(exchange.answer, "");
  }

  LocalServer& server = LocalServer::Instance();
};

}  // namespace

TEST_F(ModuleHostTest, TheModuleAnswersWithItsText) {
  EXPECT_EQ(Get(server.port(), "/QvExampleModule.dll?greeting=hello&n=1").answer,
            std::string(kEchoHead) + "greeting=hello\nn=1\n");
  EXPECT_EQ(server.UseCount("QvExampleModule.dll"), 0);
  // The list is searched without case, but the library is the file of the
  // requested name, which this web root lacks.
  ExpectNoAnswer(Get(server.port(), "/qvexamplemodule.dll?x=2"));
  EXPECT_TRUE(Logged("Unable to load dll"));
  EXPECT_FALSE(LoggedPrefix("Attempt to access Unknown dll : qvexamplemodule.dll"));
}

TEST_F(ModuleHostTest, ALengthSetByTheModuleIsTheLengthSent) {
  EXPECT_EQ(Get(server.port(), "/BytesSentModule.dll?a=b").answer, "0123456789");
}

TEST_F(ModuleHostTest, ModulesThatCannotBeCalledGetNoAnswer) {
  ExpectNoAnswer(Get(server.port(), "/NoExportsModule.dll?a=b"));
  EXPECT_EQ(server.UseCount("NoExportsModule.dll"), 0);
  // Listed, but no file in the web root.
  ExpectNoAnswer(Get(server.port(), "/QvStatusModule.dll?operation=state"));
  EXPECT_TRUE(Logged("Unable to load dll"));
  EXPECT_EQ(server.UseCount("QvStatusModule.dll"), 0);
  // A module name below a directory is no module of the list.
  ExpectNoAnswer(Get(server.port(), "/vclient/QvExampleModule.dll?a=b"));
  EXPECT_TRUE(Logged("Attempt to access Unknown dll : vclient/QvExampleModule.dll"));
}

TEST_F(ModuleHostTest, AThrowingModuleEndsItsConnectionAndFreesItsEntry) {
  ExpectNoAnswer(Get(server.port(), "/ThrowingModule.dll?boom=1"));
  EXPECT_TRUE(Logged("*****************Exception calling RunDLL: boom=1"));
  EXPECT_EQ(server.UseCount("ThrowingModule.dll"), 0);
  // The server goes on serving, the same module too.
  ExpectNoAnswer(Get(server.port(), "/ThrowingModule.dll?boom=2"));
  EXPECT_EQ(server.UseCount("ThrowingModule.dll"), 0);
  EXPECT_EQ(Get(server.port(), "/QvExampleModule.dll?after=1").answer,
            std::string(kEchoHead) + "after=1\n");
}

TEST_F(ModuleHostTest, AModuleInUseCountsOne) {
  fs::remove("release-slow");
  fs::remove("slow-entered");
  HttpExchange answer;
  std::thread client([&] { answer = Get(server.port(), "/SlowModule.dll?q=7"); });
  bool entered = WaitUntil([] { return fs::exists("slow-entered"); }, std::chrono::seconds(10));
  EXPECT_TRUE(entered);
  EXPECT_EQ(server.UseCount("SlowModule.dll"), 1);
  WriteText("release-slow", "");
  client.join();
  EXPECT_EQ(answer.answer, std::string(kEchoHead) + "slow done q=7");
  EXPECT_EQ(server.UseCount("SlowModule.dll"), 0);
  fs::remove("release-slow");
}

TEST_F(ModuleHostTest, TheTransferModuleRedirectsBeforeItRuns) {
  // Its own answer (the echo of the query) never follows the redirect.
  EXPECT_EQ(Get(server.port(), "/QvTransferModule.dll?type=RequestAsset&id=5").answer,
            "HTTP/1.0 302 Found\nLocation: vclient/foot_asset_detail.html?Success=1\n\n");
  EXPECT_EQ(Get(server.port(), "/QvTransferModule.dll?type=ResumeXfer").answer,
            "HTTP/1.0 302 Found\nLocation: vclient/foot_activity.html?Success=1\n\n");
  EXPECT_EQ(Get(server.port(), "/QvTransferModule.dll?type=List").answer,
            std::string(kEchoHead) + "type=List\n");
  // Only the transfer module redirects.
  EXPECT_EQ(Get(server.port(), "/QvExampleModule.dll?type=RequestAsset").answer,
            std::string(kEchoHead) + "type=RequestAsset\n");
}

TEST_F(ModuleHostTest, QueryLengthLimits) {
  // Over 1024 characters: closed without an answer...
  ExpectNoAnswer(Get(server.port(), "/QvExampleModule.dll?k=" + std::string(1023, 'v')));
  // ...except the share module's long file list, which is passed on.
  const std::string list = "filelist=%41" + std::string(1500, 'b');
  HttpExchange long_list = Get(server.port(), "/QvShareModule.dll?" + list);
  EXPECT_EQ(long_list.answer.substr(0, sizeof kEchoHead - 1), kEchoHead);
  EXPECT_TRUE(long_list.answer.find("bbbbbbbbbb") != std::string::npos);
  // The same length for another module is refused.
  ExpectNoAnswer(Get(server.port(), "/QvExampleModule.dll?" + list));
}

TEST_F(ModuleHostTest, PasswordsInTheQueryStayOutOfTheLog) {
  EXPECT_EQ(Get(server.port(), "/QvExampleModule.dll?operation=setproxy&creds=alice:Pw4Log9").answer,
            std::string(kEchoHead) + "operation=setproxy\ncreds=alice:Pw4Log9\n");
  EXPECT_TRUE(Logged("args:: operation=setproxy&creds=alice"));
  EXPECT_EQ(ReadText("QvDebug.log").find("Pw4Log9"), std::string::npos);
}

TEST_F(ModuleHostTest, TheHelpAnswerReachesTheMainWindow) {
  std::mutex lock;
  std::condition_variable posted;
  int command = 0;
  std::string text;
  SetMainWindowPoster([&](int c, std::string t) {
    std::lock_guard<std::mutex> hold(lock);
    command = c;
    text = std::move(t);
    posted.notify_all();
  });
  HttpExchange answer = Get(server.port(), "/QvExampleModule.dll?operation=displayhelp&file=qv.chm");
  {
    std::unique_lock<std::mutex> hold(lock);
    posted.wait_for(hold, std::chrono::seconds(10), [&] { return command != 0; });
    EXPECT_EQ(command, kCommandDisplayHelp);
    EXPECT_EQ(text, answer.answer);  // the window gets a copy of what the browser got
  }
  EXPECT_EQ(answer.answer, std::string(kEchoHead) + "operation=displayhelp\nfile=qv.chm\n");
  command = 0;
  Get(server.port(), "/QvExampleModule.dll?operation=status");
  SetMainWindowPoster(nullptr);
  EXPECT_EQ(command, 0);
}
