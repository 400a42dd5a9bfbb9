// What a browser's request says about where it comes from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/request_origin.h"

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
      {"Host: [::1]:4080\r\n", true, false},
      {"Host: MyBox.\r\n", true, false},  // the machine's own name
      {"Host: attacker.example\r\n", false, true},
      {"Host: attacker.example:4080\r\n", true, true},
      {"Host: [evil]\r\n", true, true},
      {"Host: 127.0.0.1.evil.example\r\n", false, true},
      {"Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n", true, true},
      {"Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n", false, false},  // an image, a page
      {"Sec-Fetch-Site: same-origin\r\n", true, false},
      // Only header lines count, and only up to the blank line.
      {"X: Host: attacker.example\r\n\r\nHost: attacker.example\r\n", true, false},
  };
  for (const Case& c : cases) {
    const std::string text = "GET /QvStatusModule.dll HTTP/1.1\r\n" + c.headers + "\r\n";
    std::string reason = RefusalReason(ReadRequestOrigin(text), c.module_call, "mybox");
    EXPECT_EQ(!reason.empty(), c.refused) << c.headers << " " << reason;
  }
}
