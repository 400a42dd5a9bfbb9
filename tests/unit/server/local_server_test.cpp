// The listener and file serving in this process, on a real port: what
// StartHTTP records, what a browser gets for files and errors, and which
// requests get no answer at all.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/device.h"
#include "common/ini_file.h"
#include "support/http_client.h"
#include "support/local_server.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace {

class LocalServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ok()) << server.failure(); }

  std::string Setting(const std::string& key) const {
    return std::string(
        IniFind(ReadText(server.work() / "vane.ini"), "Quovane", key).value_or("<missing>"));
  }
  // The connection was ended without a byte of answer.
  void ExpectNoAnswer(const HttpExchange& exchange) const {
    EXPECT_TRUE(exchange.connected);
    EXPECT_TRUE(exchange.closed);
    EXPECT_EQ(exchange.answer, "");
  }

  LocalServer& server = LocalServer::Instance();
};

std::string FileAnswer(const std::string& type, const std::string& bytes) {
  return "HTTP/1.0 200 OK\nContent-Type: " + type + "\nContent-Length: " +
         std::to_string(bytes.size()) + "\n\n" + bytes;
}

}  // namespace

TEST_F(LocalServerTest, RecordsItsPortForThePagesAndTheSettings) {
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(server.port(), server.configured_port()) << "the chosen port was taken meanwhile";
  EXPECT_EQ(ReadText(server.doc() / "port.js"), "var QvPort = " + port + ";\n");
  EXPECT_EQ(Setting("AppPort"), port);
  EXPECT_EQ(server.device().GetAppPort(), port);
  // The old page named port 81: the application host and the new port
  // replace it, the path stays.
  EXPECT_EQ(Setting("DefaultPage"), "http://127.0.0.1:" + port + "/vclient/index.html");
  EXPECT_TRUE(Logged("Successfully bound server to port: " + port));
  EXPECT_TRUE(Logged("default page : " + std::string(LocalServer::kDefaultPage)));
  EXPECT_TRUE(Logged("LogLevel: 3"));
}

TEST_F(LocalServerTest, FilesComeByteForByteAfterAStatusLineAndHeaders) {
  EXPECT_EQ(Get(server.port(), "/").answer,
            FileAnswer("text/html", "<html><body><h1>Start</h1></body></html>\n"));
  EXPECT_EQ(Get(server.port(), "/vclient/status.js").answer,
            FileAnswer("application/javascript", "var shown = 1;\n"));
  EXPECT_EQ(Get(server.port(), "/empty.html").answer, FileAnswer("text/html", ""));
  // Several 8192-byte blocks of every byte value, CR and LF among them.
  HttpExchange big = Get(server.port(), "/big.bin");
  EXPECT_TRUE(big.closed);
  EXPECT_EQ(big.answer.size(), FileAnswer("application/octet-stream", server.big_file()).size());
  EXPECT_TRUE(big.answer == FileAnswer("application/octet-stream", server.big_file()));
  // An absolute target is served by its path.
  EXPECT_EQ(Exchange(server.port(), "GET http://127.0.0.1:1/empty.html HTTP/1.1\r\n\r\n").answer,
            FileAnswer("text/html", ""));
}

TEST_F(LocalServerTest, ErrorAnswersCarryTheirStatusLines) {
  EXPECT_EQ(Get(server.port(), "/missing.html").answer,
            "HTTP/1.0 404 Not Found\nContent-Type: text/html\n\n<body><h1>404 Not Found</h1></body>");
  const std::string not_implemented =
      "HTTP/1.0 501 Not Implemented\nContent-Type: text/html\n\n"
      "<body><h1>501 Not Implemented</h1></body>";
  EXPECT_EQ(Exchange(server.port(), "POST /index.html HTTP/1.0\r\n\r\n").answer, not_implemented);
  // A client that ends its side without a request gets the same.
  OpenConnection silent(server.port());
  ASSERT_TRUE(silent.connected());
  silent.ShutdownWrite();
  EXPECT_EQ(silent.Finish().answer, not_implemented);
}

TEST_F(LocalServerTest, RefusedRequestsAreClosedWithoutAnAnswer) {
  // A host not in AllowHosts, asking for an allowed file.
  ExpectNoAnswer(ExchangeFrom("127.0.0.2", server.port(), "GET /index.html HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(Logged("Invalid host : 127.0.0.2"));
  // A file no pattern admits (AllowFiles holds no *.txt).
  ExpectNoAnswer(Get(server.port(), "/secret.txt"));
  EXPECT_TRUE(Logged("Not allowed to access file : " + server.root().string() + "/secret.txt"));
  // The extension pattern needs the whole extension.
  ExpectNoAnswer(Get(server.port(), "/index.htmlx"));
  // ".." never reaches the disk, even where the file exists.
  ExpectNoAnswer(Get(server.port(), "/vclient/../index.html"));
  // A bad request (no target) is closed without the 400 body.
  ExpectNoAnswer(Exchange(server.port(), "GET\n\n"));
  // A request text over 1024 characters that is no share-module file list.
  ExpectNoAnswer(Get(server.port(), "/index.html?" + std::string(1100, 'q')));
}

TEST_F(LocalServerTest, ManyClientsAtOnceEachGetTheirOwnAnswer) {
  constexpr int kClients = 8;
  constexpr int kRequests = 25;
  std::vector<int> failures(kClients, 0);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int r = 0; r < kRequests; ++r) {
        const std::string marker = std::to_string(c) + "-" + std::to_string(r);
        bool ok;
        if (r % 2 == 0) {
          ok = Get(server.port(), "/QvExampleModule.dll?m=" + marker).answer ==
               "HTTP/1.0 200 OK\nContent-Type: text/plain\n\nm=" + marker + "\n";
        } else {
          ok = Get(server.port(), "/big.bin").answer ==
               FileAnswer("application/octet-stream", server.big_file());
        }
        if (!ok) ++failures[c];
      }
    });
  }
  for (std::thread& client : clients) client.join();
  for (int c = 0; c < kClients; ++c) EXPECT_EQ(failures[c], 0) << "client " << c;
  EXPECT_EQ(server.UseCount("QvExampleModule.dll"), 0);
}
