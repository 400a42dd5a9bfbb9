// The server's pieces, each on its own: request parsing, the bind order,
// module names and content types.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "device/device.h"
#include "host/host_state.h"
#include "platform/socket.h"
#include "server/content_type.h"
#include "server/dispatch.h"
#include "server/listener.h"
#include "server/refusal_page.h"
#include "server/request_parser.h"
#include "server/server_state.h"
#include "server/status_line.h"
#include "support/loopback.h"
#include "support/net_environment.h"
#include "support/work_dir.h"

namespace {

class ParseTest : public ::testing::Test {
 protected:
  // A root of its own: the in-process local server keeps the process's.
  int Parse(const std::string& text) {
    buffer.assign(text.begin(), text.end());
    buffer.push_back('\0');
    std::memset(&request, 0xA5, sizeof request);
    return ParseRequest(&request, buffer.data(), root);
  }

  std::string Query() const { return request.szQueryString ? request.szQueryString : "<none>"; }

  std::string root = "/srv/web";
  tagREQUEST request;
  std::vector<char> buffer;
};

std::string FileList(size_t length, char after_percent) {
  std::string text = "GET /QvShareModule.dll?filelist=%";
  text += after_percent;
  text.resize(length, 'a');
  return text;
}

}  // namespace

TEST_F(ParseTest, GetTargetsBecomeFilePathUriAndQuery) {
  // The method ignores case; the query is kept as received.
  EXPECT_EQ(Parse("get /vclient/engine.html?x=1&y=%41+b HTTP/1.1\r\nHost: h\r\n\r\n"), kParseOk);
  EXPECT_STREQ(request.szFilePath, "/srv/web/vclient/engine.html");
  EXPECT_STREQ(request.szUri, "vclient/engine.html");
  EXPECT_EQ(Query(), "x=1&y=%41+b");
  EXPECT_EQ(std::string(request.szEnvBlock, 30),
            std::string("QUERY_STRING=x=1&y=%41+b\0\0", 26) + std::string(4, '\0'));
  EXPECT_EQ(Parse("GET / HTTP/1.0\r\n\r\n"), kParseOk);
  EXPECT_EQ(Query(), "<none>");
}

TEST_F(ParseTest, RefusesOtherMethodsAndTargetsOutsideTheWebRoot) {
  for (auto [text, status] : std::vector<std::pair<std::string, int>>{
           {"POST /x HTTP/1.0\r\n", kParseNotGet},
           {"", kParseNotGet},
           {" \n \n", kParseNotGet},
           {"GET", kParseBadRequest},
           {"GET\r\n", kParseNotGet},  // the carriage return stays in the token
           {"GET http://127.0.0.1:82 HTTP/1.0", kParseBadRequest},
           {"GET HTTP://h/x HTTP/1.0", kParseBadRequest},  // the scheme is compared with case
           // Without its leading '/', the path would continue the root's own name.
           {"GET x/secret.bin HTTP/1.0", kParseBadRequest},
           {"GET /vclient/../x.html HTTP/1.0", kParseBadRequest},
           {"GET /a..b HTTP/1.0", kParseBadRequest},
           {"GET /x?a=.. HTTP/1.0", kParseOk}}) {
    EXPECT_EQ(Parse(text), status) << text;
  }
  root = "/srv/../web";
  EXPECT_EQ(Parse("GET /x.html HTTP/1.0"), kParseBadRequest);
}

TEST_F(ParseTest, LongTextsOnlyForTheShareModulesFileList) {
  EXPECT_EQ(Parse(FileList(1500, 'A')), kParseLongFileList);
  EXPECT_EQ(Parse(FileList(1500, '4')), kParseLongFileList);
  EXPECT_EQ(Parse(FileList(1500, '/')), kParseBadRequest);
  EXPECT_EQ(Parse(FileList(1024, '/')), kParseOk);  // not long: no test of the '%'
  // The query entry may be 1024 characters.
  EXPECT_EQ(Parse("GET /?" + std::string(1011, 'q')), kParseOk);
  EXPECT_EQ(Parse("GET /?" + std::string(1012, 'q')), kParseBadRequest);
}

TEST_F(ParseTest, NeverWritesPastAField) {
  // A query of 4081 makes an entry of 4094, which fits with its two terminators.
  EXPECT_EQ(Parse(FileList(4105, 'A')), kParseBadRequest);
  EXPECT_EQ(Parse(FileList(4104, 'A')), kParseLongFileList);
  EXPECT_EQ(request.szEnvBlock[4093], 'a');
  EXPECT_EQ(request.szEnvBlock[4094], '\0');
  EXPECT_EQ(request.szEnvBlock[4095], '\0');

  EXPECT_EQ(Parse("GET /" + std::string(250, 'p')), kParseOk);  // "/srv/web/" + 250 = 259
  EXPECT_EQ(std::strlen(request.szFilePath), 259u);
  EXPECT_EQ(Parse("GET /" + std::string(251, 'p')), kParseBadRequest);
  root = "/";
  EXPECT_EQ(Parse("GET /" + std::string(259, 'p')), kParseBadRequest);
}

TEST(ReceiveRequest, OneReceiveIsTheRequest) {
  ScopedWorkDir dir;
  LoopbackPair pair;
  tagREQUEST request{};
  request.hSocket = pair.server();
  request.dwBytesReceived = 5;
  platform::Send(pair.client(), "GET / HTTP/1.0\r\n\r\n");
  std::vector<char> buffer(kReceiveBufferSize + 1, 'z');
  EXPECT_EQ(ReceiveRequest(&request, buffer.data(), kReceiveBufferSize), 1);
  EXPECT_STREQ(buffer.data(), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(request.dwBytesReceived, 5u + 18u);
  request.hSocket = platform::kInvalidSocket;
  EXPECT_EQ(ReceiveRequest(&request, buffer.data(), kReceiveBufferSize), 0);
}

// The bodies are checked on the wire against the real program.
TEST(SendErrorBody, NothingOutOfTheTable) {
  LoopbackPair pair;
  tagREQUEST request{};
  request.hSocket = pair.server();
  SendErrorBody(&request, 15);
  platform::ShutdownSend(pair.server());
  EXPECT_EQ(pair.ReadAll(pair.client()), "");
  EXPECT_STREQ(StatusLine(14), "503 Service Unavailable");
  EXPECT_EQ(StatusLine(15), nullptr);
}

// The reason echoes a request path: it must never become markup on the
// server's own origin. Only this machine's browser is told.
TEST(RefusalPage, AStatusLineAndTheReasonEscaped) {
  const std::string page = RefusalPage(9, "/<script>alert('x')</script>&\"");
  EXPECT_EQ(page.rfind("HTTP/1.0 403 Forbidden\nContent-Type: text/html; charset=utf-8\n", 0), 0u);
  EXPECT_TRUE(Contains(page, "<p>/&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;&quot;</p>"));
  const size_t body = page.find("\n\n") + 2;
  EXPECT_TRUE(Contains(page, "Content-Length: " + std::to_string(page.size() - body) + "\n"));
  EXPECT_EQ(RefusalPage(15, "x"), "");

  for (const char* peer : {"127.0.0.1", "127.0.0.2"}) {
    LoopbackPair pair;
    tagREQUEST request{};
    request.hSocket = pair.server();
    std::strcpy(request.szRemoteAddr, peer);
    EXPECT_EQ(ExplainRefusal(&request, 10, "why"), peer == std::string("127.0.0.1"));
    platform::ShutdownSend(pair.server());
    EXPECT_EQ(pair.ReadAll(pair.client()).empty(), peer != std::string("127.0.0.1")) << peer;
  }
}

TEST(BindOrder, TheConfiguredPortThenTheFixedRangesThen81First) {
  std::vector<uint16_t> ports = FirstPassPorts(0x10000 + 4321);  // only the low 16 bits count
  ASSERT_EQ(ports.size(), 940u);
  EXPECT_EQ(ports[0], 4321);
  EXPECT_EQ(ports[1], 82);
  EXPECT_EQ(ports[19], 100);
  EXPECT_EQ(ports[20], 4080);
  EXPECT_EQ(ports.back(), 4999);
  for (uint16_t port : ports) EXPECT_NE(port, 81);
  // An unset port (0) would bind a port no page knows.
  EXPECT_EQ(FirstPassPorts(0).size(), 939u);
  EXPECT_EQ(FirstPassPorts(0)[0], 82);

  ports = SecondPassPorts();
  ASSERT_EQ(ports.size(), 940u);
  EXPECT_EQ(ports[0], 81);
  EXPECT_EQ(ports[20], 4080);
}

TEST(ContentType, FromTheExtensionOfTheFileName) {
  EXPECT_EQ(ContentTypeFor("/web/INDEX.HTM"), "text/html");
  EXPECT_EQ(ContentTypeFor("/web/a.png"), "image/png");
  EXPECT_EQ(ContentTypeFor("/web/archive.tar.gz"), "application/octet-stream");
  EXPECT_EQ(ContentTypeFor("/web/v1.html/readme"), "application/octet-stream");
}

class IsDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSettings({{"Modules", "QvExampleModule.dll;"}});
    ASSERT_EQ(device.LoadConfiguration(), 0);
    device.BuildModuleList("$Revision: 1.160 $");
    previous = TheHostState().pDevice.exchange(&device);
  }
  void TearDown() override { TheHostState().pDevice = previous; }

  ScopedWorkDir dir;
  QvDevice device;
  QvDevice* previous = nullptr;
};

// Lower-case names and paths below directories are checked on the wire
// against the real program.
TEST_F(IsDllTest, ALowerCaseDllNamingAListedModule) {
  EXPECT_TRUE(isDLL("/web/QvExampleModule.dll"));
  EXPECT_FALSE(isDLL("/web/QvExampleModule.DLL"));  // a file request
  EXPECT_FALSE(isDLL("/web/QvExampleModule.dll.html"));
  EXPECT_FALSE(isDLL("/web/Unlisted.dll"));
  EXPECT_TRUE(Logged("isDLL: not in module list:: /web/Unlisted.dll"));
  EXPECT_FALSE(isDLL("QvExampleModule.dll"));
  EXPECT_TRUE(Logged("DLL name malformed: missing leading slash?: QvExampleModule.dll"));

  char path[sizeof(tagREQUEST::szFilePath)];
  const std::string text = "/" + std::string(sizeof path - 20, 'a') + "/QvExampleModule.dll";
  std::memcpy(path, text.data(), sizeof path);  // no terminator inside the field
  EXPECT_FALSE(isDLL(path));
}
