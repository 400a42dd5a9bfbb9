// What a browser's request says about where it comes from, and how long its
// parts may be.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "server/request_origin.h"
#include "server/request_parser.h"
#include "server/server_state.h"

TEST(RequestOrigin, ForeignNamesAndCrossSiteModuleCallsAreRefused) {
  struct Case {
    std::string headers;
    bool module_call;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"", true, false},  // curl and scripts send neither header
      {"Host: 127.0.0.1:4080\r\n", true, false},
      {"host:localhost\r\n", true, false},
      {"Host: LOCALHOST.:81\r\n", false, false},
      {"Host: [::1]:4080\r\n", true, false},
      {"Host: mybox\r\n", true, false},  // the machine's own name
      {"Host: MyBox.\r\n", false, false},
      {"Host: attacker.example\r\n", false, true},
      {"Host: attacker.example:4080\r\n", true, true},
      {"Host: [evil]\r\n", true, true},
      {"Host: 127.0.0.1.evil.example\r\n", false, true},
      {"Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n", true, true},
      {"Host: 127.0.0.1\r\nsec-fetch-site: Cross-Site\r\n", true, true},
      {"Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n", false, false},  // an image, a page
      {"Sec-Fetch-Site: same-origin\r\n", true, false},
      {"Sec-Fetch-Site: none\r\n", true, false},
      // Only header lines count, and only up to the blank line.
      {"X: Host: attacker.example\r\n\r\nHost: attacker.example\r\n", true, false},
  };
  for (const Case& c : cases) {
    const std::string text = "GET /QvStatusModule.dll HTTP/1.1\r\n" + c.headers + "\r\n";
    std::string reason = RefusalReason(ReadRequestOrigin(text), c.module_call, "mybox");
    EXPECT_EQ(!reason.empty(), c.refused) << c.headers << " " << reason;
  }
}

TEST(RequestLimits, OnlyTheRequestLineIsLimitedTo1024Characters) {
  const std::string saved_root = TheServerState().szWebRoot;
  ASSERT_TRUE(SetWebRoot("/srv/web"));
  const std::string cookies = "Cookie: " + std::string(2048, 'c') + "\r\n";
  const std::string query(1000, 'q');
  struct Case {
    std::string text;
    int status;
  };
  const std::vector<Case> cases = {
      {"GET /x.html?" + query + " HTTP/1.1\r\nHost: h\r\n" + cookies + "\r\n", kParseOk},
      // 1025 characters with the carriage return.
      {"GET /x.html?" + query + "qqq HTTP/1.1\r\n" + cookies + "\r\n", kParseBadRequest},
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.text.begin(), c.text.end());
    buffer.push_back('\0');
    tagREQUEST request;
    std::memset(&request, 0, sizeof request);
    EXPECT_EQ(ParseRequest(&request, buffer.data()), c.status) << c.text.substr(0, 40);
  }
  SetWebRoot(saved_root);
}
