// The diagnostic plug-in end to end: peerserver serves it, qvbroker answers
// its broker pages and lends it relay proxies, squid and dante stand in the
// way, Chromium shows the page; and a device-message call without a socket.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "device/device.h"
#include "module/QvPeerModule.h"
#include "platform/shared_library.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/net_environment.h"
#include "support/outbound_device.h"
#include "support/peerserver_fixture.h"
#include "support/proxy_fixtures.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"


namespace {

namespace fs = std::filesystem;

const char* const kVerdicts[8] = {
    "<font color=\"red\">Cannot connect to any sites. Please Check your internet connection.</font>",
    "<font color=\"red\">Can connect to %s, but cannot connect to the broker.  Your network may filter "
    "by domain names.  Please ask your network administrator.</font>",
    "<font color=\"red\">Can connect to broker , but cannot connect to %s.  Unable to make secure "
    "connection to broker.  Your internet connection may be unstable.  Please run diagnostic "
    "again.</font>",
    "<font color=\"red\">Cannot make secure(https) connection to the broker.  Ask your Network "
    "Administrator if https is blocked.</font>",
    "<font color=\"red\">Can connect to the broker only through a secure connection(https).  Your "
    "internet connection may be unstable.  Please run diagnostic again.</font>",
    "<font color=\"red\">Can connect to the broker only through a secure connection(https).  Your "
    "internet connection may be unstable.  Please run diagnostic again.</font>",
    "Connectivity looks ok to Broker, although not to specified HTTP server.  Restart application and "
    "attempt to register again.",
    "Connectivity looks ok.   If you are still having trouble connecting restart the application.",
};

std::string Verdict(int index, const std::string& host) {
  std::string text = kVerdicts[index];
  if (size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, host);
  return "<p id=\"verdict\">" + text + "</p>";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// peerserver with the plug-in and a broker; a stalled step costs a second.
std::unique_ptr<PeerServer> StartServer(std::map<std::string, std::string> settings = {},
                                        std::map<std::string, std::string> environment = {},
                                        std::vector<std::string> broker_args = {}) {
  PeerServerOptions options;
  options.with_broker = true;
  options.broker_args = std::move(broker_args);
  options.modules = {{DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"}};
  options.settings = {{"DiagnosticTimeout", "1000"}};
  options.settings.insert(settings.begin(), settings.end());
  options.environment = std::move(environment);
  auto server = std::make_unique<PeerServer>(options);
  EXPECT_TRUE(server->ok()) << server->failure();
  return server->ok() ? std::move(server) : nullptr;
}

std::string Ask(const PeerServer& server, const std::string& query) {
  return Get(server.port(), "/QvDiagnosticModule.dll?" + query).answer;
}

std::string Site(const PeerServer& server) {
  return "127.0.0.1:" + std::to_string(server.broker()->plain_port());
}

constexpr char kPageHead[] = "HTTP/1.0 200 OK\nContent-Type: text/html\r\n\r\n";

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
    EXPECT_EQ(server->Terminate(), 0) << server->Output();
  }
}

// Chromium renders the verdict as words; the screenshot stays beside the
// test for a person to look at.
TEST(Diagnostic, ChromiumShowsTheVerdictAndTheRelays) {
  if (ChromiumProgram().empty()) GTEST_SKIP() << "chromium is not installed";
  auto server = StartServer();
  if (!server) return;
  const std::string relays = server->broker()->Admin("/admin/relays?accept,refuse");
  const std::string url = "http://127.0.0.1:" + std::to_string(server->port()) +
                          "/QvDiagnosticModule.dll?operation=conntest&server=" + Site(*server);
  const std::string dom = DumpDom(url);
  EXPECT_NE(dom.find(Verdict(7, Site(*server))), std::string::npos) << dom;
  EXPECT_NE(dom.find("<td class=\"ok\">Successful</td>"), std::string::npos) << dom;
  // The script turned "&host:port=" into the relay's name.
  const std::string accepting = relays.substr(0, relays.find(' '));
  EXPECT_NE(dom.find("<td>" + accepting + "</td><td>HTTP and Yxprotocol both Succeeded</td>"),
            std::string::npos)
      << dom;
  EXPECT_NE(dom.find("HTTP and Yxprotocol both FAILED"), std::string::npos) << dom;

  const fs::path shot = fs::current_path() / "diagnostic-conntest.png";
  fs::remove(shot);
  const fs::path profile = server->work() / "chromium-profile";
  RunCommand({ChromiumProgram(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
              "--no-first-run", "--disable-background-networking", "--disable-component-update",
              "--disable-sync", "--user-data-dir=" + profile.string(), "--hide-scrollbars",
              "--window-size=1024,1100", "--virtual-time-budget=3000",
              "--screenshot=" + shot.string(), url},
             std::chrono::seconds(60));
  EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 10000u) << shot;
  EXPECT_EQ(server->Terminate(), 0) << server->Output();
}

// Every relay outcome, with the probes as the relay received them, as JSON.
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

  const std::string answer = Ask(*server, "operation=conntest&format=json&server=" + Site(*server));
  EXPECT_TRUE(answer.starts_with("HTTP/1.0 200 OK\nContent-Type: application/json\n\n")) << answer;
  const char* outcomes[4][2] = {{"true", "true"}, {"false", "false"}, {"false", "false"},
                                {"true", "false"}};
  const char* verdicts[4] = {"HTTP and Yxprotocol both Succeeded", "HTTP and Yxprotocol both FAILED",
                             "HTTP and Yxprotocol both FAILED", "HTTP Succeeded but Yxprotocol FAILED"};
  std::string success;
  for (int i = 0; i < 4; ++i) {
    success += relays[i] + "|~" + outcomes[i][0] + "|~" + outcomes[i][1] + "|^";
    const std::string n = std::to_string(i + 2);
    EXPECT_NE(answer.find("\"diagtag" + n + "\": \"&" + relays[i] + "=\",\n  \"value" + n +
                          "\": \"" + verdicts[i] + "\""),
              std::string::npos)
        << answer;
  }
  EXPECT_NE(answer.find("\"PROXY_SUCCESS\": \"" + success + "\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("\"diagtag1\": \"Number of Yxproxies tested\",\n  \"value1\": \"4\""),
            std::string::npos);
  EXPECT_NE(answer.find("\"verdict\": \"7\""), std::string::npos) << answer;
  // The accepting relay got the HTTP probe and the 12-byte protocol probe.
  EXPECT_NE(broker.Admin("/admin/relays").find(
                relays[0] + " accept connections=2\n"
                "  GET /testproxy HTTP/1.0\\x0aUser-Agent: YxnetAsys/3.6.1\\x0a \\x0a\\x0a\n"
                "  \\x0c\\x00\\x00\\x02\\x00\\x02\\x00\\x00\\x00\\x00\\x00\\x00\n"),
            std::string::npos)
      << broker.Admin("/admin/relays");
  EXPECT_EQ(server->Terminate(), 0) << server->Output();
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
    EXPECT_NE(page.find("<td id=\"creds\">" + std::string(c.status) + "</td>"), std::string::npos)
        << page;
    EXPECT_NE(page.find(std::string("<td class=\"result\">") + c.site + "</td>"), std::string::npos);
    EXPECT_NE(page.find(Verdict(c.verdict, Site(*server))), std::string::npos) << page;
  }
  const std::vector<std::string> requests = server->broker()->Requests();
  size_t reports = 0;
  for (const std::string& request : requests) {
    reports += request.find("/asys/ReportDiagnostics.jsp?") != std::string::npos;
    EXPECT_EQ(request.find("s3cret"), std::string::npos) << request;
    EXPECT_EQ(request.find("YWxpY2U6czNjcmV0"), std::string::npos) << request;
  }
  EXPECT_GE(reports, 1u);
  EXPECT_EQ(server->Log().find("s3cret"), std::string::npos);
  EXPECT_EQ(server->Log().find("YWxpY2U6czNjcmV0"), std::string::npos);
  EXPECT_EQ(server->Terminate(), 0) << server->Output();
}

TEST(Diagnostic, BehindDanteTheTestsGoThroughSocks) {
  if (std::string(DANTED_PROGRAM).empty()) GTEST_SKIP() << "dante is not installed";
  DanteFixture dante(DANTED_PROGRAM, false);
  ASSERT_TRUE(dante.ok()) << dante.failure();
  auto server =
      StartServer({}, {{"all_proxy", "socks5://127.0.0.1:" + std::to_string(dante.port())}});
  if (!server) return;
  const std::string page = Ask(*server, "operation=conntest&server=" + Site(*server));
  EXPECT_NE(page.find(Verdict(7, Site(*server))), std::string::npos) << page;
  EXPECT_NE(page.find("<td>SOCKS</td><td>Yes</td>"), std::string::npos) << page;
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

  // A password named in capitals is read all the same, so it is blanked too.
  Ask(*server, "operation=proxyinfo&CREDS=alice:S3cretCaps");
  // Links planted where the copies that leave are made are not written through.
  WriteText(server->work() / "victim", "precious\n");
  for (const char* copy : {"QvDiagUpload1.tmp", "QvDiagUpload2.tmp", "QvDiagUpload3.tmp"}) {
    fs::create_symlink(server->work() / "victim", server->work() / copy);
  }
  std::string page = Ask(*server, "operation=postfile");
  EXPECT_NE(page.find("qvstatus=200&amp;postfile=200"), std::string::npos) << page;
  EXPECT_EQ(ReadText(server->work() / "victim"), "precious\n");
  const std::string stored = ReadText(broker.store_dir() / "_Yx_Logs.log");
  const std::string request = broker.Requests().back();
  ASSERT_NE(request.find("POST /asys/PostLog.jsp HTTP/1.1\n"), std::string::npos) << request;
  // Over the login's channel: the broker's TLS port.
  EXPECT_TRUE(broker.RecordNames().back().ends_with("-tls.req"));
  EXPECT_NE(request.find("name=\"deviceSID\"\r\n\r\ntest-sid-1\r\n"), std::string::npos);
  // Byte for byte: what was sent after the part's head is what is stored.
  const std::string head = "filename=\"_Yx_Logs.log\"\r\nContent-Type: text/plain\r\n\r\n";
  ASSERT_NE(request.find(head), std::string::npos) << request;
  EXPECT_EQ(request.substr(request.find(head) + head.size()), stored);
  std::string ini = ReadText(server->work() / "vane.ini");
  ini.replace(ini.find("StoredDeviceKey42"), 17, "*");
  EXPECT_TRUE(stored.starts_with(ini)) << stored.substr(0, 600);
  EXPECT_NE(stored.find("CALLING with BrokerKEY : *"), std::string::npos);
  EXPECT_EQ(stored.find(broker_key), std::string::npos);
  EXPECT_NE(stored.find("CREDS=alice"), std::string::npos);
  EXPECT_EQ(stored.find("S3cretCaps"), std::string::npos);

  const size_t posts = broker.PageRequests("PostLog");
  for (const char* name : {"/etc/passwd", "..%2Fdoc%2Fport.js", "..\\vane.ini", "C:vane.ini"}) {
    SCOPED_TRACE(name);
    page = Ask(*server, std::string("operation=postfile&filename=") + name);
    EXPECT_NE(page.find("qvstatus=200&amp;postfile=-1"), std::string::npos) << page;
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
      EXPECT_NE(answer.find(c.in_answer), std::string::npos) << answer;
    }
    if (!c.logged.empty()) {
      EXPECT_TRUE(WaitUntil([&] { return server->Log().find(c.logged) != std::string::npos; },
                            std::chrono::seconds(10)));
    }
  }
  EXPECT_EQ(Count(server->Log(), "invalid operation"), 1u);
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

// The broker's "Diagnostic" message runs the plug-in with no browser: the
// logs arrive and the message is acknowledged as carried out.
TEST(Diagnostic, TheBrokersMessageRunsItWithoutABrowser) {
  auto server = StartServer(
      {}, {}, {"--message", "messageType=Diagnostic&operation=postfile,brkhttp,brkhttps&messageSID=9"});
  if (!server) return;
  QvBrokerFixture& broker = *server->broker();
  EXPECT_TRUE(WaitUntil(
      [&] { return broker.Admin("/admin/acks").find("&status=3&messageSID=9\n") != std::string::npos; },
      std::chrono::seconds(30)))
      << broker.Admin("/admin/acks");
  // The module runs on a thread of its own, acknowledged or not.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return server->Log().find("QvDiagnosticModule: no socket, page not sent") != std::string::npos;
      },
      std::chrono::seconds(30)));
  EXPECT_TRUE(fs::exists(broker.store_dir() / "_Yx_Logs.log"));
  EXPECT_EQ(broker.PageRequests("CheckConnection"), 2u);
  EXPECT_EQ(server->Terminate(), 0) << server->Output();
}

