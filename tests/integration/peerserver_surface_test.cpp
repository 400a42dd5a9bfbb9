// The local web surface as an attacker meets it, and as real browsers use it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/chromium.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

TEST(PeerServerSurface, CallersHostNamesSitesAndPatternsAreChecked) {
  // The web root's own name among the patterns admits nothing by itself.
  PeerServer server({.settings = {{"AllowFiles", "*.html;root"}},
                     .modules = {{TEST_MODULE_DIR "/QvExampleModule.dll", "QvExampleModule.dll"}}});
  ASSERT_TRUE(server.ok()) << server.failure();
  WriteText(server.root() / "secret.bin", "secret");
  const std::string port = std::to_string(server.port());
  const std::string base = "http://127.0.0.1:" + port;
  const std::string module = "/QvExampleModule.dll?a=1";
  // The device is offline: an admitted module call gets its status redirect.
  const std::string redirected = "HTTP/1.0 302", refused = "HTTP/1.0 403";
  struct Case {
    std::vector<std::string> options;
    std::string target;
    std::string answer_begins;
  };
  // One case per outcome; the rules' other cases are the unit tests'
  // (RequestOrigin, the device's access lists), another host's the load test's.
  const std::vector<Case> cases = {
      {{}, module, redirected},
      {{"-H", "Host: attacker.example:" + port}, module, refused},
      {{}, "/secret.bin", refused},  // this machine's browser hears why
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-i"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(base + c.target);
    const std::string answer = Curl(args);
    EXPECT_EQ(answer.substr(0, c.answer_begins.size()), c.answer_begins)
        << c.target << " " << (c.options.empty() ? "" : c.options.back()) << "\n"
        << answer;
  }

  // A request that arrives in three segments is read whole.
  OpenConnection connection(server.port());
  ASSERT_TRUE(connection.connected());
  for (const char* part : {"GE", "T /index.html HTTP/1.0\r\n", "\r\n"}) {
    const size_t reads = Occurrences(server.Log(), "recv nRet ");
    ASSERT_TRUE(connection.Send(part));
    if (part[0] == '\r') break;
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(server.Log(), "recv nRet ") > reads; },
                          std::chrono::seconds(20)))
        << part;
  }
  EXPECT_EQ(connection.Finish().answer,
            FileAnswer("text/html", ReadText(server.root() / "index.html")));
}

TEST(PeerServerSurface, BrowsersPagesReachModulesOnlyFromTheDevicesOwnSite) {
  if (ChromiumProgram().empty()) {
    GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it)";
  }
  PeerServer server({.modules = {{TEST_MODULE_DIR "/QvExampleModule.dll", "QvExampleModule.dll"}},
                     .with_broker = true});
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string port = std::to_string(server.port());
  const std::string query(600, 'x');
  // The device's own page: a long query and about 2 KiB of cookies.
  WriteText(server.root() / "own.html",
            "<html><body><pre id=\"r\">pending</pre><script>\n"
            "for (let i = 0; i < 4; ++i) document.cookie = 'c' + i + '=' + 'c'.repeat(500);\n"
            "fetch('/QvExampleModule.dll?q=" +
                query +
                "').then(r => r.text())\n"
                "  .then(t => { document.getElementById('r').textContent = t; })\n"
                "  .catch(() => { document.getElementById('r').textContent = 'failed'; });\n"
                "</script></body></html>\n");
  // Another site's page (another address, so another site to the browser)
  // fires the same kind of call.
  WriteText(server.root() / "attack.html",
            "<html><body><p id=\"r\">pending</p><script>\n"
            "fetch('http://127.0.0.1:" +
                port +
                "/QvExampleModule.dll?attack=1', {mode: 'no-cors'})\n"
                "  .finally(() => { document.getElementById('r').textContent = 'done'; });\n"
                "</script></body></html>\n");

  std::string dom = DumpDom("http://127.0.0.1:" + port + "/own.html");
  EXPECT_TRUE(Contains(dom, "<pre id=\"r\">q=" + query));

  dom = DumpDom("http://127.0.0.2:" + port + "/attack.html");
  EXPECT_TRUE(Contains(dom, "<p id=\"r\">done</p>"));
  EXPECT_TRUE(Contains(server.Log(), "Refused cross-site module call"));
  EXPECT_FALSE(Contains(server.Log(), "attack=1")) << "the module ran";

  // DNS rebinding: a name that resolves to us does not get our pages.
  dom = DumpDom("http://rebind.test:" + port + "/index.html",
                {"--host-resolver-rules=MAP rebind.test 127.0.0.1"});
  EXPECT_TRUE(Contains(dom, "403 Forbidden"));
  EXPECT_FALSE(Contains(dom, "Yxnetwork"));
}
