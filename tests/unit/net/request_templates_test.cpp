#include "net/request_templates.h"

#include <gtest/gtest.h>

#include <string>

namespace {

RequestRoute Direct() { return RequestRoute{}; }

RequestRoute ViaProxy(const std::string& credentials) {
  RequestRoute route;
  route.url_prefix = AbsoluteUrlPrefix("broker.example", 8080);
  route.pragma = true;
  route.credentials = credentials;
  return route;
}

}  // namespace

TEST(RequestTemplates, GetDirectHasOnlyThePathAndTheBlankLine) {
  EXPECT_EQ(FormatGetRequest(Direct(), "/asys/Heartbeat.jsp?deviceSID=7", "YxnetAsys"),
            "GET /asys/Heartbeat.jsp?deviceSID=7 HTTP/1.0\n"
            "User-Agent: YxnetAsys/3.6.1\n"
            " \n"
            "\n");
}

TEST(RequestTemplates, GetViaProxyCarriesAbsoluteUrlPragmaAndCredentials) {
  EXPECT_EQ(FormatGetRequest(ViaProxy(""), "/asys/update.jsp?type=1", "YxnetAsys"),
            "GET http://broker.example:8080/asys/update.jsp?type=1 HTTP/1.0\n"
            "User-Agent: YxnetAsys/3.6.1\n"
            "Pragma: no-cache\n"
            " \n"
            "\n");
  EXPECT_EQ(FormatGetRequest(ViaProxy("YWxpY2U6czNjcmV0"), "/p", "Agent"),
            "GET http://broker.example:8080/p HTTP/1.0\n"
            "User-Agent: Agent/3.6.1\n"
            "Pragma: no-cache\n"
            "Proxy-Authorization: Basic YWxpY2U6czNjcmV0\n"
            "\n");
}

TEST(RequestTemplates, SecureGetNamesSsl31) {
  EXPECT_EQ(FormatSecureGetRequest(Direct(), "/asys/CheckConnection.jsp?", "YxnetAsys"),
            "GET /asys/CheckConnection.jsp? SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n \n\n");
  EXPECT_EQ(FormatSecureGetRequest(ViaProxy("Zm9v"), "/x", "YxnetAsys"),
            "GET http://broker.example:8080/x SSL/3.1\nUser-Agent: YxnetAsys/3.6.1\n"
            "Pragma: no-cache\nProxy-Authorization: Basic Zm9v\n\n");
}

TEST(RequestTemplates, UploadHeader) {
  EXPECT_EQ(FormatUploadHeader(Direct(), "/asys/PostLog.jsp", "YxnetAsys", "10.1.2.3", 1234),
            "POST /asys/PostLog.jsp HTTP/1.1\n"
            "User-Agent: YxnetAsys/3.6.1\n"
            "Host: 10.1.2.3\n"
            "Content-Length: 1234\n"
            "Content-Type: multipart/form-data; boundary=------------~!#~!#~!#~!#\n"
            "Connection: Keep-Alive\n"
            "Cache-Control: no-cache\n"
            " \n"
            "\n");
  EXPECT_EQ(FormatUploadHeader(ViaProxy("Zm9v"), "/asys/PostLog.jsp", "A", "h", 0).substr(0, 51),
            "POST http://broker.example:8080/asys/PostLog.jsp HT");
}

TEST(RequestTemplates, ConnectRequestWithAndWithoutCredentials) {
  EXPECT_EQ(FormatConnectRequest("10.0.0.1", 443, "YxnetAsys", ""),
            "CONNECT 10.0.0.1:443 HTTP/1.0\nUser-Agent: YxnetAsys\nPragma: no-cache\n\n\n");
  EXPECT_EQ(FormatConnectRequest("b", 8443, "Mozilla/4.0 (x)", "Zm9v"),
            "CONNECT b:8443 HTTP/1.0\nUser-Agent: Mozilla/4.0 (x)\nPragma: no-cache\n"
            "Proxy-Authorization: Basic Zm9v\n\n");
}

TEST(RequestTemplates, ProbeIsSevenBytesAndFiveZeros) {
  const char text[] = "\x0c\x00\x00\x02\x00\x02\x00\x7f\x7f";
  std::array<char, kProbeSize> probe = FormatProbe(text);
  EXPECT_EQ(std::string(probe.data(), probe.size()),
            std::string("\x0c\x00\x00\x02\x00\x02\x00\x00\x00\x00\x00\x00", 12));
}
