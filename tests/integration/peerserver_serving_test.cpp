// What the real peerserver sends for files, errors, refusals and module
// calls, byte for byte, and to many clients at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

TEST(PeerServerServing, FilesErrorsRefusalsAndModuleCallsByteForByte) {
  const std::string echo = TEST_MODULE_DIR "/QvExampleModule.dll";
  PeerServer server(
      {.settings = {// Listed without a file.
                    {"Modules", "QvExampleModule.dll;ThrowingModule.dll;NoExportsModule.dll;"
                                "QvTransferModule.dll;QvShareModule.dll;QvStatusModule.dll;"},
                    // The old page named port 81: the host and port are replaced, the path stays.
                    {"DefaultPage", "http://localhost:81/vclient/index.html"},
                    {"AppIP", "127.0.0.1"}},
       .modules = {{echo, "QvExampleModule.dll"},
                   {TEST_MODULE_DIR "/ThrowingModule.dll", "ThrowingModule.dll"},
                   {TEST_MODULE_DIR "/NoExportsModule.dll", "NoExportsModule.dll"},
                   {echo, "QvTransferModule.dll"},
                   {echo, "QvShareModule.dll"}},
       .with_broker = true});  // online: module requests reach their modules
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string port = std::to_string(server.port());
  EXPECT_EQ(server.Setting("DefaultPage"), "http://127.0.0.1:" + port + "/vclient/index.html");
  WriteText(server.root() / "status.js", "var shown = 1;\n");
  WriteText(server.root() / "empty.html", "");
  // Several 8192-byte blocks of every byte value, CR and LF among them.
  std::string big(3 * 8192 + 123, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  WriteText(server.root() / "big.bin", big);
  const std::string index = FileAnswer("text/html", ReadText(server.root() / "index.html"));
  const std::string not_implemented =
      "HTTP/1.0 501 Not Implemented\nContent-Type: text/html\n\n"
      "<body><h1>501 Not Implemented</h1></body>";
  const std::string list = "filelist=%41" + std::string(1500, 'b');

  struct Case {
    std::string request;
    std::string answer;      // empty: closed without a byte
    bool head_only = false;  // the answer begins with it (a page in words follows)
  };
  const auto get = [](const std::string& target) { return "GET " + target + " HTTP/1.0\r\n\r\n"; };
  const std::vector<Case> cases = {
      {get("/status.js"), FileAnswer("application/javascript", "var shown = 1;\n")},
      {get("/empty.html"), FileAnswer("text/html", "")},
      {"GET http://127.0.0.1:1/index.html HTTP/1.1\r\n\r\n", index},
      {get("/missing.html"),
       "HTTP/1.0 404 Not Found\nContent-Type: text/html\n\n<body><h1>404 Not Found</h1></body>"},
      {"POST /index.html HTTP/1.0\r\n\r\n", not_implemented},
      {"", not_implemented},  // ends its side without a request
      // This machine's browser learns which setting keeps it out.
      {get("/index.htmlx"), "HTTP/1.0 403 Forbidden\n", true},
      {"GET\n\n", ""},  // no 400 body either
      {get("/NoExportsModule.dll?a=b"), ""},
      // Listed without a file: this machine's browser learns which, and where.
      {get("/QvStatusModule.dll?operation=state"), "HTTP/1.0 404 Not Found\n", true},
      // A module name below a directory is no module of the list.
      {get("/vclient/QvExampleModule.dll?a=b"), ""},
      {get("/ThrowingModule.dll?boom=1"), ""},
      {get("/QvExampleModule.dll?after=1"), kEchoHead + std::string("after=1\n")},
      // The list and the library's file both ignore case.
      {get("/qvexamplemodule.dll?x=2"), kEchoHead + std::string("x=2\n")},
      // Only the transfer module redirects, before it runs.
      {get("/QvTransferModule.dll?type=RequestAsset&id=5"),
       "HTTP/1.0 302 Found\nCache-Control: no-store\n"
       "Location: vclient/foot_asset_detail.html?Success=1\n\n"},
      {get("/QvTransferModule.dll?type=ResumeXfer"),
       "HTTP/1.0 302 Found\nCache-Control: no-store\n"
       "Location: vclient/foot_activity.html?Success=1\n\n"},
      {get("/QvTransferModule.dll?type=List"), kEchoHead + std::string("type=List\n")},
      {get("/QvExampleModule.dll?type=RequestAsset"),
       kEchoHead + std::string("type=RequestAsset\n")},
      // Only the share module's file list may exceed 1024 characters.
      {get("/QvShareModule.dll?" + list), kEchoHead + list + "\n"},
      {get("/QvExampleModule.dll?" + list), ""},
      // The module gets the credentials whole; no log holds the password
      // (the fixture looks).
      {get("/QvExampleModule.dll?operation=setproxy&creds=alice:s3cret"),
       kEchoHead + std::string("operation=setproxy\ncreds=alice:s3cret\n")},
  };
  for (const Case& c : cases) {
    OpenConnection connection(server.port());
    connection.Send(c.request);
    connection.ShutdownWrite();
    const HttpExchange exchange = connection.Finish();
    EXPECT_TRUE(exchange.connected && exchange.closed) << c.request.substr(0, 60);
    EXPECT_EQ(c.head_only ? exchange.answer.substr(0, c.answer.size()) : exchange.answer, c.answer)
        << c.request.substr(0, 60);
  }
  const std::string log = server.Log();
  for (const std::string& line :
       {"Not allowed to access file : " + (server.root() / "index.htmlx").string(),
        std::string("Unable to load dll"),
        std::string("Attempt to access Unknown dll : vclient/QvExampleModule.dll"),
        std::string("*****************Exception calling RunDLL: boom=1")}) {
    EXPECT_TRUE(Contains(log, line));
  }

  // Each client gets its own answer, module calls and a large file mixed.
  std::vector<int> failures(8, 0);
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      for (int r = 0; r < 25; ++r) {
        const std::string m = std::to_string(c) + "-" + std::to_string(r);
        const bool ok = r % 2 == 0 ? Get(server.port(), "/QvExampleModule.dll?m=" + m).answer ==
                                         kEchoHead + ("m=" + m + "\n")
                                   : Get(server.port(), "/big.bin").answer ==
                                         FileAnswer("application/octet-stream", big);
        if (!ok) ++failures[c];
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(failures, std::vector<int>(8, 0));
}
