// The diagnostic's words, from what a failed request left behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/diagnostic/diagnostic_text.h"
#include "modules/diagnostic/findings.h"

namespace {

Evidence Link(LinkFailureKind kind, const std::string& host, int port) {
  Evidence e;
  e.target = "127.0.0.1:80";
  e.link = {kind, host, port, "system words"};
  e.timeout_ms = 1000;
  return e;
}

Evidence Answer(const std::string& line, const std::string& proxy, bool credentials = false) {
  Evidence e;
  e.target = "127.0.0.1:80";
  e.error_line = line;
  e.proxy = proxy;
  e.credentials_sent = credentials;
  e.timeout_ms = 1000;
  return e;
}

Step Passed(const char* name) { return {name, "127.0.0.1:80", true, "200", {}, {}, {}, 1}; }
Step Failed(const char* name, FailureKind kind) {
  return {name, "127.0.0.1:80", false, "-1", {kind, "words"}, {}, {}, 1};
}
Step Skipped(const char* name) { return {name, {}, false, {}, {}, {}, "why", 0}; }
RelayFinding Relay(const char* address, bool ok, FailureKind kind = FailureKind::kNone) {
  return {address, ok, ok, {kind, ok ? "" : "words"}};
}

}  // namespace

TEST(DiagnosticWords, EachFailureNamesItsCauseAndAddress) {
  Evidence receive;
  receive.target = "127.0.0.1:80";
  receive.elapsed_ms = 990;
  receive.timeout_ms = 1000;
  Evidence certificate = receive;
  certificate.elapsed_ms = 5;
  certificate.tls_failed = true;
  certificate.tls_reason = "self-signed certificate";
  Evidence handshake = certificate;
  handshake.tls_reason = kTlsHandshakeFailed;
  Evidence unreadable = certificate;
  unreadable.tls_failed = false;
  unreadable.unreadable = true;
  Evidence status = unreadable;
  status.broker_status = "500";
  Evidence socks = unreadable;
  socks.proxy = "127.0.0.1:1080";
  socks.socks = true;
  Evidence proxy_lookup = Link(LinkFailureKind::kNameLookup, "proxy.test", 3128);
  proxy_lookup.proxy = "proxy.test:3128";
  Evidence proxy_refused = Link(LinkFailureKind::kRefused, "127.0.0.1", 3128);
  proxy_refused.proxy = "127.0.0.1:3128";

  struct Case {
    Evidence evidence;
    FailureKind kind;
    std::string words;
  };
  const std::vector<Case> cases = {
      {Link(LinkFailureKind::kNameLookup, "site.test", 80), FailureKind::kNameLookup,
       "Name lookup failed: site.test does not resolve."},
      {proxy_lookup, FailureKind::kNameLookup,
       "Name lookup failed: the proxy's name proxy.test does not resolve."},
      {Link(LinkFailureKind::kRefused, "127.0.0.1", 9), FailureKind::kRefused,
       "Connection refused: nothing accepts connections at 127.0.0.1:9."},
      {proxy_refused, FailureKind::kRefused,
       "Connection refused: the proxy at 127.0.0.1:3128 does not accept connections."},
      {Link(LinkFailureKind::kTimedOut, "127.0.0.1", 80), FailureKind::kTimeOut,
       "Time-out: 127.0.0.1:80 did not accept the connection within 1 s."},
      {Link(LinkFailureKind::kOther, "127.0.0.1", 80), FailureKind::kOther,
       "127.0.0.1:80 could not be reached: system words."},
      {receive, FailureKind::kTimeOut, "Time-out: no answer from 127.0.0.1:80 within 1 s."},
      {Answer("HTTP/1.1 407 Proxy Authentication Required", "127.0.0.1:3128"),
       FailureKind::kProxyRefused,
       "Proxy refused: the proxy at 127.0.0.1:3128 asks for a user name and password (HTTP/1.1 407 "
       "Proxy Authentication Required)."},
      {Answer("HTTP/1.1 407 Proxy Authentication Required", "127.0.0.1:3128", true),
       FailureKind::kProxyRefused,
       "Proxy refused: the proxy at 127.0.0.1:3128 did not accept the user name and password "
       "(HTTP/1.1 407 Proxy Authentication Required)."},
      {Answer("HTTP/1.0 502 Bad Gateway", "127.0.0.1:3128"), FailureKind::kProxyRefused,
       "Proxy refused: the proxy at 127.0.0.1:3128 could not reach 127.0.0.1:80 (HTTP/1.0 502 Bad "
       "Gateway)."},
      {Answer("HTTP/1.0 403 Forbidden", ""), FailureKind::kServerRefused,
       "127.0.0.1:80 refused the request: HTTP/1.0 403 Forbidden."},
      {certificate, FailureKind::kCertificate,
       "Certificate not accepted: self-signed certificate (127.0.0.1:80)."},
      {handshake, FailureKind::kHandshake,
       "TLS handshake failed: 127.0.0.1:80 did not complete a secure connection."},
      {status, FailureKind::kServerRefused, "The broker at 127.0.0.1:80 answered with status 500."},
      {socks, FailureKind::kProxyRefused,
       "Proxy refused: the SOCKS proxy at 127.0.0.1:1080 did not open a connection to 127.0.0.1:80."},
      {unreadable, FailureKind::kNoAnswer,
       "No answer: 127.0.0.1:80 closed the connection without a broker answer."},
  };
  for (const Case& c : cases) {
    const Failure failure = ExplainFailure(c.evidence);
    EXPECT_EQ(failure.kind, c.kind) << c.words;
    EXPECT_EQ(failure.words, c.words);
  }
  EXPECT_EQ(Duration(500) + Duration(1000) + Duration(2500), "500 ms1 s2.5 s");
}

TEST(DiagnosticWords, TheHeadlineSumsUpEveryRow) {
  struct Case {
    std::vector<Step> steps;
    std::vector<RelayFinding> relays;
    std::string credentials;
    std::string headline;
  };
  const std::vector<Case> cases = {
      {{}, {}, "not required", "No test ran."},
      {{Passed("http"), Passed("brkhttp")}, {Relay("127.0.0.1:5", true)}, "not required",
       "Everything answered: web site, broker over HTTP and relay proxy 127.0.0.1:5."},
      // The verdict's three tests pass; the relay that failed is named.
      {{Passed("http"), Passed("brkhttp"), Passed("brkhttps")},
       {Relay("127.0.0.1:5", false, FailureKind::kRefused), Relay("127.0.0.1:6", true)},
       "not required",
       "1 of 5 checks failed. Connection refused: relay proxy 127.0.0.1:5. Answered: web site, "
       "broker over HTTP, broker over HTTPS and relay proxy 127.0.0.1:6."},
      {{Failed("http", FailureKind::kNameLookup), Failed("brkhttp", FailureKind::kTimeOut),
        Failed("brkhttps", FailureKind::kTimeOut), Passed("relaylist")},
       {}, "not required",
       "3 of 4 checks failed. Name lookup failed: web site. Time-out: broker over HTTP and broker "
       "over HTTPS. Answered: relay list."},
      {{Failed("http", FailureKind::kProxyRefused), Failed("brkhttp", FailureKind::kProxyRefused)},
       {}, "refused",
       "Both checks failed. Proxy refused: web site and broker over HTTP. The proxy did not accept "
       "the user name and password given."},
      {{Failed("postfile", FailureKind::kRefused)}, {}, "not required",
       "The check failed. Connection refused: log upload."},
      // Skipped steps neither fail nor answer: they are named apart, with why.
      {{Passed("http"), Skipped("brkhttp"), Skipped("relaylist")}, {}, "not required",
       "Everything answered: web site. Skipped: broker over HTTP and relay list (why)."},
      {{Failed("http", FailureKind::kTimeOut), Skipped("brkhttps")}, {}, "not required",
       "The check failed. Time-out: web site. Skipped: broker over HTTPS (why)."},
  };
  for (const Case& c : cases) {
    Findings findings;
    findings.steps = c.steps;
    findings.relays = c.relays;
    findings.proxy.credentials = c.credentials;
    EXPECT_EQ(Headline(findings), c.headline);
    EXPECT_EQ(AllPassed(findings), c.headline.starts_with("Everything") || c.headline == "No test ran.");
  }
}

TEST(DiagnosticWords, TheRerunQueryDropsOnlyCredentials) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "operation=conntest"},
      {"operation=conntest&server=a:1&creds=u:p", "operation=conntest&server=a:1"},
      {"CREDS=u:p&server=x&notifybroker=2", "server=x&notifybroker=2"},
      {"creds=a=b&&x=1&Creds", "x=1"},
      {"credsx=1&template=t.htx", "credsx=1&template=t.htx"},
  };
  for (const auto& [query, kept] : cases) EXPECT_EQ(QueryWithoutCredentials(query), kept) << query;
}
