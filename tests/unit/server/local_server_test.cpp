// The listener, file serving and module calls in this process, on a real port.
#include "support/local_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/device.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "server/module_host.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kEchoHead = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";

// The connection was ended without a byte of answer.
void ExpectNoAnswer(const HttpExchange& exchange) {
  EXPECT_TRUE(exchange.connected && exchange.closed);
  EXPECT_EQ(exchange.answer, "");
}

class LocalServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok()) << server.failure();
    QvLog::ReleaseInstance();  // rereads LogLevel, which another suite may have changed
  }

  std::string Setting(const std::string& key) const {
    return std::string(IniFind(ReadText(server.work() / "vane.ini"), "Quovane", key).value_or(""));
  }
  std::string Answer(const std::string& target) const { return Get(server.port(), target).answer; }
  void ExpectNoAnswer(const std::string& target) const {
    SCOPED_TRACE(target);
    ::ExpectNoAnswer(Get(server.port(), target));
  }

  LocalServer& server = LocalServer::Instance();
};

class ModuleHostTest : public LocalServerTest {};

}  // namespace

TEST_F(LocalServerTest, RecordsItsPortForThePagesAndTheSettings) {
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(ReadText(server.doc() / "port.js"), "var QvPort = " + port + ";\n");
  EXPECT_EQ(Setting("AppPort"), port);
  EXPECT_EQ(server.device().GetAppPort(), port);
  // The old page named port 81: the host and port are replaced, the path stays.
  EXPECT_EQ(Setting("DefaultPage"), "http://127.0.0.1:" + port + "/vclient/index.html");
}

TEST_F(LocalServerTest, FilesAndErrorsComeAfterTheirStatusLines) {
  EXPECT_EQ(Answer("/vclient/status.js"), FileAnswer("application/javascript", "var shown = 1;\n"));
  EXPECT_EQ(Answer("/empty.html"), FileAnswer("text/html", ""));
  // Several 8192-byte blocks of every byte value, CR and LF among them.
  EXPECT_TRUE(Answer("/big.bin") == FileAnswer("application/octet-stream", server.big_file()));
  EXPECT_EQ(Exchange(server.port(), "GET http://127.0.0.1:1/ HTTP/1.1\r\n\r\n").answer,
            FileAnswer("text/html", "<html><body><h1>Start</h1></body></html>\n"));

  EXPECT_EQ(
      Answer("/missing.html"),
      "HTTP/1.0 404 Not Found\nContent-Type: text/html\n\n<body><h1>404 Not Found</h1></body>");
  const std::string not_implemented =
      "HTTP/1.0 501 Not Implemented\nContent-Type: text/html\n\n"
      "<body><h1>501 Not Implemented</h1></body>";
  EXPECT_EQ(Exchange(server.port(), "POST /index.html HTTP/1.0\r\n\r\n").answer, not_implemented);
  OpenConnection silent(server.port());  // ends its side without a request
  silent.ShutdownWrite();
  EXPECT_EQ(silent.Finish().answer, not_implemented);
}

TEST_F(LocalServerTest, RefusedRequestsAreClosedWithoutAnAnswer) {
  ::ExpectNoAnswer(ExchangeFrom("127.0.0.2", server.port(), "GET /index.html HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(Logged("Invalid host : 127.0.0.2"));
  ExpectNoAnswer("/secret.txt");  // no AllowFiles pattern admits it
  EXPECT_TRUE(Logged("Not allowed to access file : " + server.root().string() + "/secret.txt"));
  ExpectNoAnswer("/index.htmlx");
  ExpectNoAnswer("/vclient/../index.html");
  ::ExpectNoAnswer(Exchange(server.port(), "GET\n\n"));  // no 400 body either
  ExpectNoAnswer("/index.html?" + std::string(1100, 'q'));
}

TEST_F(LocalServerTest, ManyClientsAtOnceEachGetTheirOwnAnswer) {
  std::vector<int> failures(8, 0);
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      for (int r = 0; r < 25; ++r) {
        const std::string m = std::to_string(c) + "-" + std::to_string(r);
        const bool ok =
            r % 2 == 0
                ? Answer("/QvExampleModule.dll?m=" + m) == kEchoHead + "m=" + m + "\n"
                : Answer("/big.bin") == FileAnswer("application/octet-stream", server.big_file());
        if (!ok) ++failures[c];
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(failures, std::vector<int>(8, 0));
  EXPECT_EQ(server.UseCount("QvExampleModule.dll"), 0);
}

TEST_F(ModuleHostTest, ModulesThatCannotBeCalledGetNoAnswer) {
  ExpectNoAnswer("/NoExportsModule.dll?a=b");
  ExpectNoAnswer("/QvStatusModule.dll?operation=state");  // listed, no file
  EXPECT_TRUE(Logged("Unable to load dll"));
  EXPECT_EQ(server.UseCount("QvStatusModule.dll"), 0);
  // A module name below a directory is no module of the list.
  ExpectNoAnswer("/vclient/QvExampleModule.dll?a=b");
  EXPECT_TRUE(Logged("Attempt to access Unknown dll : vclient/QvExampleModule.dll"));

  ExpectNoAnswer("/ThrowingModule.dll?boom=1");
  EXPECT_TRUE(Logged("*****************Exception calling RunDLL: boom=1"));
  ExpectNoAnswer("/ThrowingModule.dll?boom=2");
  EXPECT_EQ(server.UseCount("ThrowingModule.dll"), 0);
  EXPECT_EQ(Answer("/QvExampleModule.dll?after=1"), kEchoHead + "after=1\n");
  // The list and the library's file both ignore case.
  EXPECT_EQ(Answer("/qvexamplemodule.dll?x=2"), kEchoHead + "x=2\n");
}

// A device message's module comes from the working directory; what it
// throws stays on its own thread.
TEST_F(ModuleHostTest, ADeviceMessageRunsItsModuleAndOutlivesAThrow) {
  for (const char* name : {"QvExampleModule.dll", "ThrowingModule.dll"}) {
    fs::copy_file(server.root() / name, name, fs::copy_options::overwrite_existing);
  }
  CallExtensionDll(new ExtensionCall{"m=1", "QvExampleModule.dll"});
  EXPECT_TRUE(Logged("Response from module: : " + kEchoHead + "m=1\n"));
  CallExtensionDll(new ExtensionCall{"boom=1", "ThrowingModule.dll"});
  EXPECT_TRUE(Logged("*****************Exception calling module: ThrowingModule.dll"));
  EXPECT_EQ(server.UseCount("ThrowingModule.dll"), 0);
  EXPECT_EQ(server.UseCount("QvExampleModule.dll"), 0);
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
  EXPECT_EQ(answer, kEchoHead + "slow done q=7");
  EXPECT_EQ(server.UseCount("SlowModule.dll"), 0);
  fs::remove("release-slow");
}

// Its own answer never follows the redirect; only the transfer module redirects.
TEST_F(ModuleHostTest, TheTransferModuleRedirectsBeforeItRuns) {
  EXPECT_EQ(Answer("/QvTransferModule.dll?type=RequestAsset&id=5"),
            "HTTP/1.0 302 Found\nLocation: vclient/foot_asset_detail.html?Success=1\n\n");
  EXPECT_EQ(Answer("/QvTransferModule.dll?type=ResumeXfer"),
            "HTTP/1.0 302 Found\nLocation: vclient/foot_activity.html?Success=1\n\n");
  EXPECT_EQ(Answer("/QvTransferModule.dll?type=List"), kEchoHead + "type=List\n");
  EXPECT_EQ(Answer("/QvExampleModule.dll?type=RequestAsset"), kEchoHead + "type=RequestAsset\n");
}

TEST_F(ModuleHostTest, OnlyTheShareModulesFileListMayExceed1024Characters) {
  ExpectNoAnswer("/QvExampleModule.dll?k=" + std::string(1023, 'v'));
  const std::string list = "filelist=%41" + std::string(1500, 'b');
  EXPECT_EQ(Answer("/QvShareModule.dll?" + list), kEchoHead + list + "\n");
  ExpectNoAnswer("/QvExampleModule.dll?" + list);
}

TEST_F(ModuleHostTest, PasswordsInTheQueryStayOutOfTheLog) {
  EXPECT_EQ(Answer("/QvExampleModule.dll?operation=setproxy&creds=alice:Pw4Log9"),
            kEchoHead + "operation=setproxy\ncreds=alice:Pw4Log9\n");
  EXPECT_TRUE(Logged("args:: operation=setproxy&creds=alice"));
  EXPECT_EQ(ReadText("QvDebug.log").find("Pw4Log9"), std::string::npos);
}

TEST_F(ModuleHostTest, TheHelpAnswerReachesTheMainWindow) {
  std::promise<std::pair<int, std::string>> posted;
  std::atomic<int> posts = 0;
  SetMainWindowPoster([&](int command, std::string text) {
    if (posts++ == 0) posted.set_value({command, std::move(text)});
  });
  const std::string answer = Answer("/QvExampleModule.dll?operation=displayhelp&file=qv.chm");
  EXPECT_EQ(answer, kEchoHead + "operation=displayhelp\nfile=qv.chm\n");
  Answer("/QvExampleModule.dll?operation=status");  // posts nothing
  auto future = posted.get_future();
  const bool ready = future.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  SetMainWindowPoster(nullptr);
  ASSERT_TRUE(ready);
  EXPECT_EQ(future.get(), std::make_pair(kCommandDisplayHelp, answer));
  EXPECT_EQ(posts, 1);
}
