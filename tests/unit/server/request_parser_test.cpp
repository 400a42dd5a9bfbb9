#include "server/request_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "server/server_state.h"
#include "server/status_line.h"
#include "support/loopback.h"
#include "support/work_dir.h"

namespace {

class ParseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetWebRoot("/srv/web")); }

  int Parse(const std::string& text) {
    buffer.assign(text.begin(), text.end());
    buffer.push_back('\0');
    std::memset(&request, 0xA5, sizeof request);
    return ParseRequest(&request, buffer.data());
  }

  std::string Query() const { return request.szQueryString ? request.szQueryString : "<none>"; }

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

TEST_F(ParseTest, RootAsksForTheIndexPage) {
  EXPECT_EQ(Parse("GET / HTTP/1.0\r\n\r\n"), kParseOk);
  EXPECT_STREQ(request.szMethod, "GET");
  EXPECT_STREQ(request.szFilePath, "/srv/web/index.html");
  EXPECT_STREQ(request.szUri, "");
  EXPECT_EQ(Query(), "<none>");
  EXPECT_EQ(request.szEnvBlock[0], '\0');
}

TEST_F(ParseTest, MethodIgnoresCaseAndTheQueryIsKeptAsReceived) {
  EXPECT_EQ(Parse("get /vclient/engine.html?x=1&y=%41+b HTTP/1.1\r\nHost: h\r\n\r\n"), kParseOk);
  EXPECT_STREQ(request.szFilePath, "/srv/web/vclient/engine.html");
  EXPECT_STREQ(request.szUri, "vclient/engine.html");
  EXPECT_EQ(Query(), "x=1&y=%41+b");
  EXPECT_EQ(std::string(request.szEnvBlock, 30), std::string("QUERY_STRING=x=1&y=%41+b\0\0", 26) +
                                                      std::string(4, '\0'));
}

TEST_F(ParseTest, OnlyGetIsImplemented) {
  EXPECT_EQ(Parse("POST /x HTTP/1.0\r\n"), kParseNotGet);
  EXPECT_EQ(Parse(""), kParseNotGet);
  EXPECT_EQ(Parse(" \n \n"), kParseNotGet);
  EXPECT_EQ(Parse("GET"), kParseBadRequest);
  EXPECT_EQ(Parse("GET\r\n"), kParseNotGet);  // the carriage return stays in the token
}

TEST_F(ParseTest, AbsoluteTargetsDropSchemeHostAndPort) {
  EXPECT_EQ(Parse("GET http://127.0.0.1:82/QvStatusModule.dll?op=x HTTP/1.0"), kParseOk);
  EXPECT_STREQ(request.szUri, "QvStatusModule.dll");
  EXPECT_STREQ(request.szFilePath, "/srv/web/QvStatusModule.dll");
  EXPECT_EQ(Query(), "op=x");
  EXPECT_EQ(Parse("GET http://127.0.0.1:82 HTTP/1.0"), kParseBadRequest);
  // Compared with case: a plain path, and one without its leading '/'.
  EXPECT_EQ(Parse("GET HTTP://h/x HTTP/1.0"), kParseBadRequest);
}

TEST_F(ParseTest, APathMustStayBelowTheWebRoot) {
  // Without its leading '/', the path would continue the root's own name.
  EXPECT_EQ(Parse("GET x/secret.bin HTTP/1.0"), kParseBadRequest);
  EXPECT_EQ(Parse("GET http://127.0.0.1:82/ok.html HTTP/1.0"), kParseOk);
}

TEST_F(ParseTest, DotDotAnywhereInThePathIsRefused) {
  EXPECT_EQ(Parse("GET /vclient/../x.html HTTP/1.0"), kParseBadRequest);
  EXPECT_EQ(Parse("GET /a..b HTTP/1.0"), kParseBadRequest);
  EXPECT_EQ(Parse("GET /x?a=.. HTTP/1.0"), kParseOk);  // the query is not a path
  ASSERT_TRUE(SetWebRoot("/srv/../web"));
  EXPECT_EQ(Parse("GET /x.html HTTP/1.0"), kParseBadRequest);
}

TEST_F(ParseTest, LongTextsOnlyForTheShareModulesFileList) {
  EXPECT_EQ(Parse(FileList(1500, 'A')), kParseLongFileList);
  EXPECT_EQ(Parse(FileList(1500, '4')), kParseLongFileList);
  EXPECT_EQ(Parse(FileList(1500, '/')), kParseBadRequest);
  std::string other = FileList(1500, 'A');
  other.replace(5, 2, "Xx");
  EXPECT_EQ(Parse(other), kParseBadRequest);
  EXPECT_EQ(Parse(FileList(1024, '/')), kParseOk);  // not long: no test of the '%'
}

TEST_F(ParseTest, QueryEntryLimit) {
  auto with_query = [](size_t query) { return "GET /?" + std::string(query, 'q'); };
  EXPECT_EQ(Parse(with_query(1011)), kParseOk);  // the entry is exactly 1024
  EXPECT_EQ(Parse(with_query(1012)), kParseBadRequest);
}

TEST_F(ParseTest, NeverWritesPastAField) {
  // A long file list whose query does not fit the environment block.
  // "GET /QvShareModule.dll?" is 23 characters: 4104 leave a query of 4081
  // and an entry of 4094, which fits with its two terminators.
  EXPECT_EQ(Parse(FileList(4105, 'A')), kParseBadRequest);
  EXPECT_EQ(Parse(FileList(4104, 'A')), kParseLongFileList);
  EXPECT_EQ(request.szEnvBlock[4093], 'a');
  EXPECT_EQ(request.szEnvBlock[4094], '\0');
  EXPECT_EQ(request.szEnvBlock[4095], '\0');

  // Paths that do not fit szFilePath or szUri.
  const std::string root = "/srv/web";
  EXPECT_EQ(Parse("GET /" + std::string(259 - root.size() - 1, 'p')), kParseOk);
  EXPECT_EQ(std::strlen(request.szFilePath), 259u);
  EXPECT_EQ(Parse("GET /" + std::string(259 - root.size(), 'p')), kParseBadRequest);
  ASSERT_TRUE(SetWebRoot("/"));
  EXPECT_EQ(Parse("GET /" + std::string(259, 'p')), kParseBadRequest);
}

// Every prefix of a real request parses to some status without harm.
TEST_F(ParseTest, EveryPrefixOfARequest) {
  const std::string full =
      "GET http://localhost:82/QvStatusModule.dll?operation=status&x=%20 HTTP/1.1\r\n"
      "Host: localhost\r\n\r\n";
  for (size_t n = 0; n <= full.size(); ++n) {
    int status = Parse(full.substr(0, n));
    EXPECT_TRUE(status == kParseOk || status == kParseBadRequest || status == kParseNotGet) << n;
  }
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

  pair.CloseClient();
  EXPECT_EQ(ReceiveRequest(&request, buffer.data(), kReceiveBufferSize), 1);
  EXPECT_STREQ(buffer.data(), "");
  EXPECT_EQ(ParseRequest(&request, buffer.data()), kParseNotGet);

  request.hSocket = platform::kInvalidSocket;
  EXPECT_EQ(ReceiveRequest(&request, buffer.data(), kReceiveBufferSize), 0);
}

TEST(SendErrorBody, StatusLineThenTheBody) {
  LoopbackPair pair;
  tagREQUEST request{};
  request.hSocket = pair.server();
  SendErrorBody(&request, 12);
  SendErrorBody(&request, 15);  // out of the table: nothing
  SendErrorBody(&request, 10);
  platform::ShutdownSend(pair.server());
  EXPECT_EQ(pair.ReadAll(pair.client()),
            "HTTP/1.0 501 Not Implemented\nContent-Type: text/html\n\n"
            "<body><h1>501 Not Implemented</h1></body>"
            "HTTP/1.0 404 Not Found\nContent-Type: text/html\n\n"
            "<body><h1>404 Not Found</h1></body>");
  EXPECT_STREQ(StatusLine(0), "200 OK");
  EXPECT_STREQ(StatusLine(14), "503 Service Unavailable");
  EXPECT_EQ(StatusLine(15), nullptr);
}
