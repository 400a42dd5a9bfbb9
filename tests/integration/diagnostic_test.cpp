// The diagnostic plug-in end to end, behind real proxies and in Chromium.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "device/device.h"
#include "module/QvPeerModule.h"
#include "platform/shared_library.h"
#include "support/child_process.h"
#include "support/chromium.h"
#include "support/http_client.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/peerserver_fixture.h"
#include "support/proxy_fixtures.h"
#include "support/qvbroker_fixture.h"
#include "support/scripted_peer.h"
#include "support/work_dir.h"


namespace {

namespace fs = std::filesystem;

constexpr char kAllGood[] =
    "Connectivity looks ok.   If you are still having trouble connecting restart the application.";

// The verdict's paragraph with its sentence as documented, for the web site
// at host.
std::string Verdict(int index, const std::string& host) {
  const std::string red = "<font color=\"red\">";
  const std::string https_only =
      red +
      "Can connect to the broker only through a secure connection(https).  Your internet "
      "connection may be unstable.  Please run diagnostic again.</font>";
  const std::string sentences[8] = {
      red + "Cannot connect to any sites. Please Check your internet connection.</font>",
      red + "Can connect to " + host +
          ", but cannot connect to the broker.  Your network may filter by domain names.  Please "
          "ask your network administrator.</font>",
      red + "Can connect to broker , but cannot connect to " + host +
          ".  Unable to make secure connection to broker.  Your internet connection may be "
          "unstable.  Please run diagnostic again.</font>",
      red +
          "Cannot make secure(https) connection to the broker.  Ask your Network Administrator "
          "if https is blocked.</font>",
      https_only,
      https_only,
      "Connectivity looks ok to Broker, although not to specified HTTP server.  Restart "
      "application and attempt to register again.",
      kAllGood,
  };
  return "<p id=\"verdict\">" + sentences[index] + "</p>";
}

// peerserver with the plug-in and a broker; a stalled step costs a second.
std::unique_ptr<PeerServer> StartServer(std::map<std::string, std::string> settings = {},
                                        std::map<std::string, std::string> environment = {}) {
  settings.emplace("DiagnosticTimeout", "1000");
  auto server = std::make_unique<PeerServer>(
      PeerServerOptions{.settings = std::move(settings),
                        .modules = {{DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"}},
                        .with_broker = true,
                        .environment = std::move(environment)});
  EXPECT_TRUE(server->ok()) << server->failure();
  return server->ok() ? std::move(server) : nullptr;
}

std::string Ask(const PeerServer& server, const std::string& query) {
  return Get(server.port(), "/QvDiagnosticModule.dll?" + query).answer;
}

std::string Site(const PeerServer& server) {
  return "127.0.0.1:" + std::to_string(server.broker()->plain_port());
}

constexpr char kPageHead[] =
    "HTTP/1.0 200 OK\nCache-Control: no-store\r\nContent-Type: text/html\r\n\r\n";

// The text from the end of `from` up to `to`, or empty.
std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const size_t start = text.find(from);
  if (start == std::string::npos) return {};
  const size_t end = text.find(to, start + from.size());
  return text.substr(start + from.size(), end == std::string::npos ? end : end - start - from.size());
}

// A row of the page as Chromium left it: its class and its explanation.
struct Row {
  std::string state;
  std::string note;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << row.state << ": " << row.note;
}

Row RowOf(const std::string& dom, const std::string& id) {
  const std::string row = Between(dom, "<tr id=\"" + id + "\" class=\"", "</tr>");
  return {row.substr(0, row.find('"')), Between(row, "<td class=\"note\">", "</td>")};
}

// What a person and a program read in one situation.
struct Expected {
  int verdict;  // -1: none, the paragraph says why
  std::string headline;
  std::map<std::string, Row> rows;  // by the row's id
  std::vector<std::string> json;    // parts of the JSON answer
  std::string no_verdict;           // the verdict's paragraph when there is none
};

// A JSON answer's body against the documented schema.
void ExpectMatchesSchema(const PeerServer& server, const std::string& json, const std::string& name) {
  const std::filesystem::path file = server.work() / (name + ".json");
  WriteText(file, json);
  std::string output;
  EXPECT_EQ(RunCommand({JSON_PYTHON, JSON_SCHEMA_CHECK, DIAGNOSTIC_SCHEMA, file.string()},
                       std::chrono::seconds(60), &output),
            0)
      << output << json;
}

// The page's DOM in Chromium (and a picture of it, for a person to look at:
// no check reads it), then the JSON of the same query against its schema.
void CheckSituation(const PeerServer& server, const std::string& site, const std::string& picture,
                    const Expected& expected) {
  SCOPED_TRACE(picture);
  const std::string query = "operation=conntest&server=" + site;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) +
                          "/QvDiagnosticModule.dll?" + query;
  const std::string dom = DumpDom(url);
  const std::string headline = Between(dom, "<p id=\"headline\" class=\"", "</p>");
  // A skipped test is no failure.
  const bool passed = std::none_of(expected.rows.begin(), expected.rows.end(),
                                   [](const auto& row) { return row.second.state == "bad"; });
  EXPECT_EQ(headline, std::string(passed ? "ok" : "bad") + "\">" + expected.headline) << dom;
  const std::string verdict = expected.verdict >= 0
                                  ? Verdict(expected.verdict, site)
                                  : "<p id=\"verdict\">" + expected.no_verdict + "</p>";
  EXPECT_TRUE(Contains(dom, verdict));
  for (const auto& [id, row] : expected.rows) EXPECT_EQ(RowOf(dom, id), row) << id;
  EXPECT_FALSE(Contains(dom, "&lt;font"));
  PageScreenshot(url, picture, 1100, 1000);

  const std::string answer = Ask(server, query + "&format=json");
  const std::string json = answer.substr(answer.find("\n\n") + 2);
  for (const std::string& part : expected.json) {
    EXPECT_TRUE(Contains(json, part));
  }
  EXPECT_FALSE(Contains(json, "<font"));
  ExpectMatchesSchema(server, json, picture);
}

}  // namespace

// Each verdict from what answers: the site (up or refused), the broker's
// plain and secure ports (up, refused, or a broker that closes unanswered).
TEST(Diagnostic, EveryVerdictNamesWhatFailed) {
  const std::string refused = std::to_string(FreeLoopbackPort());
  struct Case {
    int verdict;
    bool site_up;
    const char* broker_rule;  // for CheckConnection, or none
  };
  struct Setup {
    std::map<std::string, std::string> settings;
    std::vector<Case> cases;
  };
  const Setup setups[] = {
      {{}, {{7, true, nullptr}, {6, false, nullptr}, {1, true, "close"}, {0, false, "close"}}},
      {{{"BrokerSecurePort", refused}}, {{3, true, nullptr}, {2, false, nullptr}}},
      {{{"BrokerPort", refused}}, {{5, true, nullptr}, {4, false, nullptr}}},
  };
  for (const Setup& setup : setups) {
    auto server = StartServer(setup.settings);
    if (!server) return;
    for (const Case& c : setup.cases) {
      SCOPED_TRACE("verdict " + std::to_string(c.verdict));
      server->broker()->Admin(std::string("/admin/fail?") +
                              (c.broker_rule ? std::string("CheckConnection=") + c.broker_rule : "clear"));
      const std::string site = c.site_up ? Site(*server) : "127.0.0.1:" + refused;
      const std::string page = Ask(*server, "operation=conntest&server=" + site);
      EXPECT_TRUE(page.starts_with(kPageHead)) << page;
      // The verdict comes first, then the tests.
      const size_t verdict = page.find(Verdict(c.verdict, site));
      EXPECT_LT(verdict, page.find("<h2>Tests</h2>")) << page;
    }
  }
}

// Every relay outcome, with the probes as the relay received them: in the
// JSON with its cause in words, and in the page's own tags.
TEST(Diagnostic, RelayProbesAndTheirOutcomes) {
  auto server = StartServer();
  if (!server) return;
  QvBrokerFixture& broker = *server->broker();
  std::string list = broker.Admin("/admin/relays?accept,refuse,stall,once");
  std::vector<std::string> relays;
  for (size_t at = 0; at < list.size(); at = list.find('\n', at) + 1) {
    relays.push_back(list.substr(at, list.find(' ', at) - at));
  }
  ASSERT_EQ(relays.size(), 4u) << list;

  const std::string json = Ask(*server, "operation=conntest&format=json&server=" + Site(*server));
  EXPECT_TRUE(json.starts_with(
      "HTTP/1.0 200 OK\nCache-Control: no-store\nContent-Type: application/json\n\n")) << json;
  const char* outcomes[4] = {
      "\"ok\", \"http\": true, \"protocol\": true, \"text\": \"HTTP and Yxprotocol both Succeeded\", "
      "\"failure\": null, \"error\": null}",
      "\"failed\", \"http\": false, \"protocol\": false, \"text\": \"HTTP and Yxprotocol both FAILED\", "
      "\"failure\": \"connection-refused\", \"error\": \"Connection refused: nothing accepts "
      "connections at ",
      "\"failed\", \"http\": false, \"protocol\": false, \"text\": \"HTTP and Yxprotocol both FAILED\", "
      "\"failure\": \"time-out\", \"error\": \"Time-out: ",
      "\"failed\", \"http\": true, \"protocol\": false, \"text\": \"HTTP Succeeded but Yxprotocol "
      "FAILED\", \"failure\": \"time-out\", \"error\": \"Time-out: "};
  std::string success;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Contains(json, "{\"address\": \"" + relays[i] + "\", \"outcome\": " + outcomes[i]));
    // The relay that lets one connection in has none left for a second call.
    success += relays[i] + (i == 0 ? "|~true|~true|^" : "|~false|~false|^");
  }

  // The tags as the system names them, through a template of the caller's.
  WriteText(server->root() / "vclient" / "tags.htx",
            "[%PROXY_SUCCESS%]\n[%diagtag1%]=[%value1%]\n[%diagtag3%][%value3%]\n");
  const std::string page =
      Ask(*server, "operation=conntest&template=tags.htx&server=" + Site(*server));
  EXPECT_TRUE(Contains(page, "\r\n\r\n" + success + "\nNumber of Yxproxies tested=4\n&amp;" +
                                 relays[1] + "=HTTP and Yxprotocol both FAILED\n"));
  // The accepting relay got the HTTP probe and the 12-byte protocol probe.
  EXPECT_TRUE(Contains(
      broker.Admin("/admin/relays"),
      relays[0] +
          " accept connections=4\n  GET /testproxy HTTP/1.0\\x0aUser-Agent: YxnetAsys/3.6.1\\x0a "
          "\\x0a\\x0a\n  \\x0c\\x00\\x00\\x02\\x00\\x02\\x00\\x00\\x00\\x00\\x00\\x00\n"));
}

// Behind squid: no credentials, wrong ones, right ones; reports go along
// and never carry the password.
TEST(Diagnostic, BehindSquidThePageSaysWhatTheProxyWants) {
  if (std::string(SQUID_PROGRAM).empty()) GTEST_SKIP() << "squid is not installed";
  SquidFixture squid(SQUID_PROGRAM, {{"alice", "s3cret"}});
  ASSERT_TRUE(squid.ok()) << squid.failure();
  const std::string proxy = "http://127.0.0.1:" + std::to_string(squid.port());
  auto server = StartServer({}, {{"http_proxy", proxy}, {"https_proxy", proxy}});
  if (!server) return;
  struct Case {
    const char* creds;
    const char* status;
    const char* site;  // http_success
    int verdict;
  };
  const Case cases[] = {
      {"", "required but not submitted", "HTTP/1.1 407 Proxy Authentication Required", 0},
      {"&creds=alice:wrong", "submitted but refused", "HTTP/1.1 407 Proxy Authentication Required", 0},
      {"&creds=alice:s3cret", "submitted &amp; OK", "Successful", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.creds);
    const std::string page =
        Ask(*server, "operation=conntest&notifybroker=1&server=" + Site(*server) + c.creds);
    EXPECT_TRUE(
        Contains(page, "<td id=\"creds\" class=\"result\">" + std::string(c.status) + "</td>"));
    EXPECT_TRUE(Contains(page, std::string("<td class=\"result\">") + c.site + "</td>"));
    EXPECT_TRUE(Contains(page, Verdict(c.verdict, Site(*server))));
  }
  const std::vector<std::string> requests = server->broker()->Requests();
  size_t reports = 0;
  for (const std::string& request : requests) {
    reports += request.find("/asys/ReportDiagnostics.jsp?") != std::string::npos;
    EXPECT_FALSE(Contains(request, "s3cret"));
    EXPECT_FALSE(Contains(request, "YWxpY2U6czNjcmV0"));
  }
  EXPECT_GE(reports, 1u);
}

TEST(Diagnostic, BehindDanteTheTestsGoThroughSocks) {
  if (std::string(DANTED_PROGRAM).empty()) GTEST_SKIP() << "dante is not installed";
  DanteFixture dante(DANTED_PROGRAM, false);
  ASSERT_TRUE(dante.ok()) << dante.failure();
  auto server =
      StartServer({}, {{"http_proxy", "socks5://127.0.0.1:" + std::to_string(dante.port())}});
  if (!server) return;
  const std::string page = Ask(*server, "operation=conntest&server=" + Site(*server));
  EXPECT_TRUE(Contains(page, Verdict(7, Site(*server))));
  EXPECT_TRUE(Contains(page, "<td>SOCKS</td><td>Yes</td>"));
}

// The debug-log set leaves as one file with the keys blanked; a page may
// not name a file outside the working directory.
TEST(Diagnostic, PostfileUploadsTheLogsWithoutSecrets) {
  auto server = StartServer({{"DeviceKey", "StoredDeviceKey42"}});
  if (!server) return;
  QvBrokerFixture& broker = *server->broker();
  // Logged in: the host has logged its broker key by the time it calls.
  ASSERT_TRUE(WaitUntil([&] { return broker.PageRequests("Heartbeat") >= 1; },
                        std::chrono::seconds(30)));
  const std::string devices = broker.Admin("/admin/devices");
  const size_t key_at = devices.find("brokerKey=") + 10;
  const std::string broker_key = devices.substr(key_at, devices.find('&', key_at) - key_at);
  ASSERT_FALSE(broker_key.empty()) << devices;

  // Links planted where the copies that leave are made are not written through.
  WriteText(server->work() / "victim", "precious\n");
  for (const char* copy : {"QvDiagUpload1.tmp", "QvDiagUpload2.tmp", "QvDiagUpload3.tmp"}) {
    fs::create_symlink(server->work() / "victim", server->work() / copy);
  }
  std::string page = Ask(*server, "operation=postfile");
  EXPECT_TRUE(Contains(page, "qvstatus=200&amp;postfile=200"));
  EXPECT_EQ(ReadText(server->work() / "victim"), "precious\n");
  const std::string stored = ReadText(broker.store_dir() / "_Yx_Logs.log");
  const std::string request = broker.Requests().back();
  ASSERT_TRUE(Contains(request, "POST /asys/PostLog.jsp HTTP/1.1\n"));
  // Over the login's channel: the broker's TLS port.
  EXPECT_TRUE(broker.RecordNames().back().ends_with("-tls.req"));
  EXPECT_TRUE(Contains(request, "name=\"deviceSID\"\r\n\r\ntest-sid-1\r\n"));
  std::string ini = ReadText(server->work() / "vane.ini");
  ini.replace(ini.find("StoredDeviceKey42"), 17, "*");
  EXPECT_TRUE(stored.starts_with(ini)) << stored.substr(0, 600);
  EXPECT_TRUE(Contains(stored, "CALLING with BrokerKEY : *"));
  EXPECT_FALSE(Contains(stored, broker_key));

  const size_t posts = broker.PageRequests("PostLog");
  for (const char* name : {"/etc/passwd", "..%2Fdoc%2Fport.js", "..\\vane.ini", "C:vane.ini"}) {
    SCOPED_TRACE(name);
    page = Ask(*server, std::string("operation=postfile&filename=") + name);
    EXPECT_TRUE(Contains(page, "qvstatus=200&amp;postfile=-1"));
  }
  EXPECT_EQ(broker.PageRequests("PostLog"), posts);
  EXPECT_EQ(server->Terminate(), 0) << server->Output();
}

// The operation list: defaults, first result only, unknown names, limits,
// help, and templates that must stay in their folder.
TEST(Diagnostic, OperationListAndTemplates) {
  auto server = StartServer();
  if (!server) return;
  const std::string site = "server=" + Site(*server);
  const std::string twelve = "sendlogs,sendlogs,sendlogs,sendlogs,sendlogs,sendlogs,sendlogs,"
                             "sendlogs,sendlogs,sendlogs,sendlogs,sendlogs";
  struct Case {
    std::string query;
    std::string in_answer;  // empty: no answer at all
    std::string logged;
  };
  const Case cases[] = {
      {site, Verdict(7, Site(*server)), "QvDiagnosticModule::~QvDiagnosticModule"},
      {"operation=http,brkhttp&" + site, "qvstatus=200&amp;http=200</code>", "DIAG_HTTP_BROKER"},
      {"operation=bogus", "", "QvDiagnosticModule: invalid operation: bogus"},
      {"operation=" + twelve + ",http", "", "==========>error: QvDiagnosticModule: MAX_OPS exceeded!."},
      {"operation=http&template=..%2F..%2Fvane.ini&" + site, "qvstatus=200&amp;http=200",
       "QvDiagnosticModule: template refused: ..%2F..%2Fvane.ini"},
      {"operation=http&template=proxyinfo.htx&" + site, "<h1>Proxy information</h1>", ""},
      // A missing page is said in words, not with an empty answer.
      {"operation=http&template=gone.htx&" + site, "the template vclient\\gone.htx is missing",
       "QvDiagnosticModule: no template "},
      {"operation=proxyinfo", "<strong>None</strong>", ""},
      {"operation=displayhelp&page=start.htm",
       "qvstatus=200&file=..\\doc\\troubleshoot.chm&page=start.htm\n\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const std::string answer = Ask(*server, c.query);
    if (c.in_answer.empty()) {
      EXPECT_EQ(answer, "");
    } else {
      EXPECT_TRUE(Contains(answer, c.in_answer));
    }
    if (!c.logged.empty()) {
      EXPECT_TRUE(Eventually([&] { return server->Log(); }, c.logged, std::chrono::seconds(10)));
    }
  }
  EXPECT_EQ(Occurrences(server->Log(), "invalid operation"), 1u);
}

// A device message runs the module with no socket: nothing goes to a
// descriptor, the upload and the tests still run.
TEST(Diagnostic, WithoutASocketTheModuleStillRuns) {
  ScopedWorkDir dir;
  QvBrokerFixture broker(QVBROKER_PROGRAM);
  ASSERT_TRUE(broker.ok()) << broker.failure();
  WriteBrokerSettings(broker);
  UseDirectRoute();  // the host device may still name an earlier test's proxy
  std::string error;
  auto library = platform::SharedLibrary::Load(DIAGNOSTIC_MODULE, &error);
  ASSERT_TRUE(library) << error;
  auto construct = library->Find<ConstructQvModuleFn>("ConstructQvModule");
  auto destroy = library->Find<DestroyQvModuleFn>("DestroyQvModule");
  auto execute = library->Find<GetExecuteMethodFn>("GetExecuteMethod")();
  QvPeerModule* module = construct();
  ASSERT_NE(module, nullptr);
  tagREQUEST request{};
  request.pDevice = &TestOutboundDevice();
  const std::string query = "operation=postfile,conntest&server=127.0.0.1:" +
                            std::to_string(broker.plain_port());
  EXPECT_EQ((module->*execute)(query.c_str(), &request), nullptr);
  EXPECT_EQ((module->*execute)(query.c_str(), nullptr), nullptr);
  destroy(module);
  EXPECT_TRUE(Logged("QvDiagnosticModule: no socket, page not sent"));
  EXPECT_TRUE(Logged("QvDiagnosticModule: no pExtra, returning."));
  EXPECT_EQ(request.szUploadFile, nullptr);
  EXPECT_TRUE(fs::exists(broker.store_dir() / "_Yx_Logs.log"));
  EXPECT_EQ(broker.PageRequests("CheckConnection"), 2u);
}

// What a user reads when all is well, when a proxy asks for credentials and
// when the broker is not configured: Chromium's headline and rows agree and
// name the failing step's cause (or why a step was skipped); the JSON of
// each holds to its schema. The words of every other cause and the headline
// of every mix are the unit tests'.
TEST(DiagnosticPage, ThreeSituationsAsAPersonAndAProgramReadThem) {
  if (ChromiumProgram().empty()) GTEST_SKIP() << "chromium is not installed";
  const Row web_site{"ok", "The web site answered."};
  const Row broker{"ok", "The broker answered."};
  {
    auto server = StartServer();
    if (!server) return;
    const std::string relays = server->broker()->Admin("/admin/relays?accept,accept");
    const std::string relay1 = relays.substr(0, relays.find(' '));
    const std::string relay2 = Between(relays, "\n", " ");
    const std::string tls = std::to_string(server->broker()->tls_port());
    CheckSituation(
        *server, Site(*server), "diagnostic-all-good.png",
        {7,
         "Everything answered: web site, broker over HTTP, broker over HTTPS, relay list, relay "
         "proxy " + relay1 + " and relay proxy " + relay2 + ".",
         {{"step-http", web_site}, {"step-brkhttp", broker}, {"step-brkhttps", broker},
          {"step-relaylist", {"ok", "The broker listed 2 relay proxies."}},
          {"step-creds", {"ok", "No proxy is in use."}}},
         {"\"version\": \"1.21\",\n  \"agentVersion\": \"3.6.1\",\n  \"broker\": {\"state\": ",
          "\n  \"verdict\": {\"number\": 7, \"text\": \"" + std::string(kAllGood) + "\"},",
          "\"passed\": true,",
          "{\"name\": \"brkhttps\", \"label\": \"broker over HTTPS\", \"target\": \"127.0.0.1:" + tls +
              "\", \"outcome\": \"ok\", \"code\": \"200\", \"failure\": null, \"error\": null, "
              "\"skipped\": null, \"milliseconds\": ",
          "\"proxy\": {\"source\": \"none\", \"type\": \"none\", \"host\": null, \"port\": null, "
          "\"secureHost\": null, \"securePort\": null, \"credentials\": \"not required\", "
          "\"server\": null}",
          "{\"address\": \"" + relay2 + "\", \"outcome\": \"ok\""},
         ""});
  }
  if (std::string(SQUID_PROGRAM).empty()) {
    ADD_FAILURE() << "squid is not installed (scripts/bootstrap installs it)";
    return;
  }
  SquidFixture squid(SQUID_PROGRAM, {{"alice", "s3cret"}});
  ASSERT_TRUE(squid.ok()) << squid.failure();
  const std::string address = "127.0.0.1:" + std::to_string(squid.port());
  auto server =
      StartServer({}, {{"http_proxy", "http://" + address}, {"https_proxy", "http://" + address}});
  if (!server) return;
  const Row refused_by_proxy{"bad", "Proxy refused: the proxy at " + address +
                                        " asks for a user name and password (HTTP/1.1 407 Proxy "
                                        "Authentication Required)."};
  CheckSituation(
      *server, Site(*server), "diagnostic-proxy-credentials.png",
      {0,
       "All 4 checks failed. Proxy refused: web site, broker over HTTP, broker over HTTPS and relay "
       "list. The proxy asks for a user name and password.",
       {{"step-http", refused_by_proxy}, {"step-brkhttp", refused_by_proxy},
        {"step-brkhttps", refused_by_proxy}, {"step-relaylist", refused_by_proxy},
        {"step-creds", {"bad", "The proxy asks for a user name and password: enter them above and "
                               "run the test again."}}},
       {"\"proxy\": {\"source\": \"environment\", \"type\": \"http\", \"host\": \"127.0.0.1\", "
        "\"port\": " + std::to_string(squid.port()) + ", \"secureHost\": \"127.0.0.1\", "
        "\"securePort\": " + std::to_string(squid.port()) + ", \"credentials\": \"required\", ",
        "\"failure\": \"proxy-refused\", "},
       ""});

  // Nothing at the broker to test: the site alone, and the start page's words.
  PeerServer alone({.settings = {{"BrokerIP", "0"}},
                    .modules = {{DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"}}});
  ASSERT_TRUE(alone.ok()) << alone.failure();
  RecordingPeer site;
  const std::string missing =
      "not configured: set BrokerIP, DeviceUID and DeviceSID in section [Quovane] of " +
      (alone.work() / "vane.ini").string() +
      " (and BrokerCAFile when the broker's certificate comes from a CA of its own), then "
      "restart peerserver. Nothing else is wrong: until then the device works offline";
  const Row skipped{"skipped", "Skipped: the broker is not configured."};
  CheckSituation(
      alone, "127.0.0.1:" + std::to_string(site.port()), "diagnostic-not-configured.png",
      {-1,
       "Everything answered: web site. Skipped: broker over HTTP, broker over HTTPS and relay list "
       "(the broker is not configured).",
       {{"step-http", web_site}, {"step-brkhttp", skipped}, {"step-brkhttps", skipped},
        {"step-relaylist", skipped}},
       {"\"broker\": {\"state\": \"not configured\", \"text\": \"" + missing + "\"},\n  "
        "\"verdict\": null,",
        "{\"name\": \"brkhttp\", \"label\": \"broker over HTTP\", \"target\": null, \"outcome\": "
        "\"skipped\", \"code\": null, \"failure\": null, \"error\": null, \"skipped\": \"the "
        "broker is not configured\", \"milliseconds\": 0}",
        "\"relays\": []"},
       "No verdict, the broker tests were skipped: " + missing + "."});
  EXPECT_FALSE(Contains(alone.Log(), ":0: ")) << "a test went to the address 0";
}

// "Run the test again" asks the same again, but never keeps credentials;
// texts from a site are shown as text; every JSON answer (and the README's
// example) holds to the schema.
TEST(DiagnosticPage, TheRerunLinkKeepsTheQueryAndTextsStayText) {
  RecordingPeer site("HTTP/1.0 403 <font color=red>x</font>\r\n\r\n");
  auto server = StartServer();
  if (!server) return;
  const std::string query = "operation=conntest&server=" + Site(*server) +
                            "&notifybroker=0&CREDS=alice:s3cret&querySID=7";
  std::string page = Ask(*server, query);
  const std::string rerun = "/QvDiagnosticModule.dll?operation=conntest&server=" + Site(*server) +
                            "&notifybroker=0&querySID=7";
  std::string escaped = rerun;
  for (size_t at = escaped.find('&'); at != std::string::npos; at = escaped.find('&', at + 1)) {
    escaped.replace(at, 1, "&amp;");
  }
  EXPECT_TRUE(Contains(page, "<a id=\"rerun\" href=\"" + escaped + "\">"));
  page = Get(server->port(), rerun).answer;
  EXPECT_TRUE(Contains(page, "<td>" + Site(*server) + "</td>"));
  // Single operations answer in the same shape, without a verdict.
  page = Ask(*server, "operation=brkhttps,postfile&format=json");
  EXPECT_TRUE(Contains(page, "\"verdict\": null,"));
  EXPECT_TRUE(Contains(page, "{\"name\": \"postfile\", \"label\": \"log upload\""));
  ExpectMatchesSchema(*server, page.substr(page.find("\n\n") + 2), "single-operations");
  // The README's example holds to the schema too.
  const std::string readme = ReadText(fs::path(WEBROOT_DIR).parent_path() / "README.md");
  ExpectMatchesSchema(*server, Between(readme, "```json\n", "```"), "readme-example");

  page = Ask(*server, "operation=conntest&server=127.0.0.1:" + std::to_string(site.port()));
  EXPECT_FALSE(Contains(page, "<font color=red>x"));
  EXPECT_TRUE(Contains(
      page, "<td class=\"note\">127.0.0.1:" + std::to_string(site.port()) +
                " refused the request: HTTP/1.0 403 &lt;font color=red&gt;x&lt;/font&gt;.</td>"));
}

// Every link and script on the shipped pages answers: the start page, the
// device pages, and the diagnostic's pages as it renders them.
TEST(DiagnosticPage, EveryLinkOnTheShippedPagesAnswers) {
  PeerServer server({.settings = {{"DiagnosticTimeout", "1000"}},
                     .modules = {{DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"},
                                 {STATUS_MODULE, "QvStatusModule.dll"}},
                     .with_broker = true});
  ASSERT_TRUE(server.ok()) << server.failure();
  std::vector<std::string> pages = {"/index.html",
                                    "/QvDiagnosticModule.dll?operation=conntest&server=" + Site(server),
                                    "/QvDiagnosticModule.dll?operation=http&server=" + Site(server),
                                    "/QvDiagnosticModule.dll?operation=proxyinfo"};
  for (const auto& entry : fs::directory_iterator(fs::path(WEBROOT_DIR) / "vclient")) {
    if (entry.path().extension() == ".html") pages.push_back("/vclient/" + entry.path().filename().string());
  }
  std::set<std::string> links;
  for (const std::string& page : pages) {
    SCOPED_TRACE(page);
    const std::string answer = Get(server.port(), page).answer;
    EXPECT_TRUE(Contains(answer.substr(0, answer.find('\n')), " 200 ")) << answer;
    for (const char* attribute : {" href=\"", " src=\""}) {
      for (size_t at = answer.find(attribute); at != std::string::npos;
           at = answer.find(attribute, at + 1)) {
        std::string link = Between(answer.substr(at), attribute, "\"");
        for (size_t amp = link.find("&amp;"); amp != std::string::npos; amp = link.find("&amp;")) {
          link.replace(amp, 5, "&");
        }
        EXPECT_TRUE(link.starts_with("/")) << link;
        links.insert(link);
      }
    }
  }
  EXPECT_TRUE(links.contains("/QvDiagnosticModule.dll?operation=conntest")) << "the start page's";
  for (const std::string& link : links) {
    SCOPED_TRACE(link);
    const std::string answer = Get(server.port(), link).answer;
    const std::string status = answer.substr(0, answer.find('\n'));
    EXPECT_TRUE(Contains(status, " 200 ")) << answer;
    EXPECT_GT(answer.size(), status.size() + 40) << answer;
  }
}

