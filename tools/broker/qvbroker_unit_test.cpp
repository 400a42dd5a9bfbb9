// Unit checks of qvbroker's pure parts: request parsing, uploads, options,
// answers and the broker's memory. Plain checks, no framework: this
// directory is configured before the test framework is.
#include <cstdio>
#include <string>
#include <string_view>

#include "answer.h"
#include "broker_state.h"
#include "http_request.h"
#include "options.h"
#include "pages.h"

namespace {

int failures = 0;

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      std::fprintf(stderr, "%s:%d: CHECK(%s)\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                        \
    }                                                                    \
  } while (0)

using namespace qvbroker;

void RequestsEndAtTheFirstEmptyLineWhateverTheLineEnds() {
  const std::string lf = "GET /asys/Heartbeat.jsp?deviceUID=a b&port=82 HTTP/1.0\nUser-Agent: A/1\n \n\n";
  const std::string crlf = "GET /x SSL/3.1\r\nHost: h\r\n\r\n";
  const std::string mixed = "GET /x HTTP/1.0\r\nHost: h\n\r\n";
  for (const std::string& text : {lf, crlf, mixed}) {
    HttpRequest r;
    for (size_t n = 0; n < text.size(); ++n) {
      CHECK(ParseRequest(std::string_view(text).substr(0, n), false, &r) == ParseState::kIncomplete);
    }
    CHECK(ParseRequest(text, false, &r) == ParseState::kComplete);
    CHECK(r.headerLength == text.size());
    CHECK(r.method == "GET");
  }
  HttpRequest r;
  ParseRequest(lf, false, &r);
  CHECK(r.target == "/asys/Heartbeat.jsp?deviceUID=a b&port=82");
  CHECK(r.version == "HTTP/1.0");
  CHECK(r.headers.size() == 1);  // the line of one blank is no header
  ParseRequest(crlf, false, &r);
  CHECK(r.version == "SSL/3.1");
  CHECK(HeaderValue(r, "host") == "h");
}

void BodiesFollowContentLengthUnlessThePeerStopped() {
  const std::string head = "POST /asys/PostLog.jsp HTTP/1.1\nContent-Length: 5\n\n";
  HttpRequest r;
  const std::string shortBody = head + "abc";
  const std::string longBody = head + "abcdeXYZ";
  CHECK(ParseRequest(shortBody, false, &r) == ParseState::kIncomplete);
  CHECK(ParseRequest(shortBody, true, &r) == ParseState::kComplete);
  CHECK(r.body == "abc");
  CHECK(ParseRequest(longBody, false, &r) == ParseState::kComplete);
  CHECK(r.body == "abcde");
  CHECK(ParseRequest("GET / HTTP/1.0\nContent-Length: 5x\n\n", false, &r) == ParseState::kMalformed);
  CHECK(ParseRequest("GET / HTTP/1.0\nContent-Length: 99999999999\n\n", false, &r) ==
        ParseState::kMalformed);
  CHECK(ParseRequest("GARBAGE\n\n", false, &r) == ParseState::kMalformed);
  CHECK(ParseRequest(" / HTTP/1.0\n\n", false, &r) == ParseState::kMalformed);
  CHECK(ParseRequest(std::string(kMaxHeaderBytes + 1, 'a'), false, &r) == ParseState::kMalformed);
  CHECK(ParseRequest("GET / HTTP/1.0\n", true, &r) == ParseState::kIncomplete);
}

void TargetsAndQueries() {
  CHECK(PathOf("http://127.0.0.1:80/asys/Heartbeat.jsp?deviceSID=1") == "/asys/Heartbeat.jsp");
  CHECK(PathOf("http://host") == "/");
  CHECK(PathOf("/asys/CheckConnection.jsp?") == "/asys/CheckConnection.jsp");
  CHECK(QueryOf("/a?b=1?c") == "b=1?c");
  CHECK(QueryOf("/a").empty());
  CHECK(PercentDecode("a%3Db%26c%2") == "a=b&c%2");
  CHECK(PercentDecode("%zz+%41") == "%zz+A");
  Query q = ParseQuery("&userSID=1&&flag&x=%41=B");
  CHECK(q.size() == 3);
  CHECK(QueryValue(q, "userSID") == "1");
  CHECK(QueryValue(q, "flag") == "");
  CHECK(QueryValue(q, "x") == "A=B");
  CHECK(!QueryValue(q, "X"));
  CHECK(PageName("/asys/update.jsp") == "update");
  CHECK(PageName("/asys/.jsp").empty());
  CHECK(PageName("/asys/a/b.jsp").empty());
  CHECK(PageName("/asys/Heartbeat").empty());
  CHECK(PageName("/other/Heartbeat.jsp").empty());
}

void UploadsAreFoundAndNamedSafely() {
  const std::string type = "multipart/form-data; boundary=------------~!#~!#~!#~!#";
  const std::string d = "--------------~!#~!#~!#~!#";
  const std::string body = d + "\r\nContent-Disposition: form-data; name=\"domainSID\"\r\n\r\n1\r\n" + d +
                           "\r\nContent-Disposition: form-data; name=\"asysFile\"; filename=\"QvDebug.log\"\r\n"
                           "Content-Type: text/plain\r\n\r\nline\r\n\r\nmore";
  auto upload = FindUpload(type, body);
  CHECK(upload && upload->fileName == "QvDebug.log" && upload->content == "line\r\n\r\nmore");
  const std::string closed = body + "\r\n" + d + "--\r\n";
  upload = FindUpload(type, closed);
  CHECK(upload && upload->content == "line\r\n\r\nmore");
  upload = FindUpload("multipart/form-data; boundary=\"b\"",
                      "--b\nContent-Disposition: form-data; name=\"f\"; filename=\"x\"\n\n\n");
  CHECK(upload && upload->content == "\n");
  CHECK(!FindUpload("multipart/form-data", body));
  CHECK(!FindUpload(type, d + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1"));
  CHECK(!FindUpload(type, d + "\r\nContent-Disposition: form-data; filename=\"x\""));
  CHECK(SafeFileName("..\\..\\vane.ini") == "vane.ini");
  CHECK(SafeFileName("/etc/passwd") == "passwd");
  CHECK(SafeFileName("..") == "upload.bin");
  CHECK(SafeFileName("dir/") == "upload.bin");
}

void FailRulesAndOptions() {
  auto rule = ParseFailRule("status=404");
  CHECK(rule && rule->page == kAnyPage && rule->mode.kind == FailMode::kStatus && rule->mode.code == 404);
  rule = ParseFailRule("Heartbeat=http=407");
  CHECK(rule && rule->page == "Heartbeat" && rule->mode.kind == FailMode::kHttp);
  CHECK(!ParseFailRule("Heartbeat=refuse"));
  CHECK(!ParseFailRule("=close"));
  CHECK(!ParseFailRule("status=42"));
  CHECK(DescribeFailMode(*ParseFailMode("status=503")) == "status=503");

  Options o;
  std::string error;
  CHECK(ParseOptions({}, &o, &error) == ParseOutcome::kRun);
  CHECK(o.plainPorts.size() == 1 && o.tlsPorts.size() == 1 && o.plainPorts[0].port == 0);
  CHECK(ParseOptions({"--port", "0", "--port", "8080:stall", "--fail", "refuse", "--proxies",
                      "1.2.3.4:80;5.6.7.8:81"},
                     &o, &error) == ParseOutcome::kRun);
  CHECK(o.plainPorts.size() == 2 && o.plainPorts[1].port == 8080);
  CHECK(o.plainPorts[0].mode.kind == FailMode::kRefuse);
  CHECK(o.plainPorts[1].mode.kind == FailMode::kStall);  // a port's own mode stays
  CHECK(o.proxies.size() == 2 && o.failRules.empty());
  CHECK(ParseOptions({"--port"}, &o, &error) == ParseOutcome::kError);
  CHECK(ParseOptions({"--port", "0", "--version"}, &o, &error) == ParseOutcome::kVersion);
  CHECK(ParseOptions({"--port", "-1"}, &o, &error) == ParseOutcome::kError);
  CHECK(ParseOptions({"--proxies", "nohost"}, &o, &error) == ParseOutcome::kError);
  CHECK(ParseOptions({"--message", "a\rb"}, &o, &error) == ParseOutcome::kError);
  CHECK(ParseOptions({"--key", "k.pem"}, &o, &error) == ParseOutcome::kError);
  CHECK(ParseOptions({"--cert", "c", "--key", "k", "--ca-out", "x"}, &o, &error) == ParseOutcome::kError);
}

void AnswersHaveFourLinesAndAnExactLength() {
  CHECK(BrokerBody(401) ==
        "StatusCode=401\r\nName=AlreadyLoggedIn\r\nDescription=The device is already logged in\r\nDetails=\r\n");
  for (int status : {200, 400, 401, 404, 500, 299}) {
    std::string body = BrokerBody(status);
    size_t equals = 0;
    for (char c : body) equals += c == '=';
    CHECK(equals == 4);  // the device splits the lines at the first four '='
  }
  std::string response = HttpResponse(404, "text/html", "abc");
  CHECK(response.rfind("HTTP/1.1 404 Not Found\r\nServer: Resin/3.0\r\n", 0) == 0);
  CHECK(response.find("\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc") != std::string::npos);
}

void BrokerMemory() {
  BrokerState state;
  CHECK(BrokerState::DerivedBrokerKey("u") == BrokerState::DerivedBrokerKey("u"));
  CHECK(BrokerState::DerivedBrokerKey("u") != BrokerState::DerivedBrokerKey("v"));
  CHECK(state.UpsertDevice(ParseQuery("deviceUID=u&deviceSID=s&brokerKey=K&fw=1")).empty());
  CHECK(!state.UpsertDevice(ParseQuery("deviceUID=u&loggedIn=yes")).empty());
  CHECK(!state.UpsertDevice(ParseQuery("brokerKey=K")).empty());
  CHECK(state.Login(ParseQuery("port=82"), "127.0.0.1").status == 400);
  LoginAnswer login = state.Login(ParseQuery("deviceUID=u&ip=10.0.0.7"), "127.0.0.2");
  CHECK(login.status == 200 && login.details == "brokerKey=K&ip=10.0.0.7&remoteip=127.0.0.2&fw=1");

  std::string details;
  state.QueueMessage("", "messageType=Test&messageSID=1");
  state.QueueMessage("other", "messageType=Test&messageSID=2");
  state.QueueMessage("u", "messageType=Test&messageSID=3");
  CHECK(state.Heartbeat(ParseQuery("deviceSID=s"), &details) == 200);
  CHECK(details == "messageType=Test&messageSID=1&messageType=Test&messageSID=3");
  CHECK(state.Heartbeat(ParseQuery("deviceSID=s"), &details) == 200 && details.empty());
  CHECK(state.ListMessages() == "other messageType=Test&messageSID=2\n");
  CHECK(state.Heartbeat(ParseQuery("deviceSID=u"), &details) == 404);  // SID mode looks by SID only

  state.Logout("u");
  CHECK(state.Heartbeat(ParseQuery("deviceUID=u&port=1"), &details) == 404);
  state.SetOpen(true);
  CHECK(state.Heartbeat(ParseQuery("deviceUID=u&port=1"), &details) == 404);  // known, logged out
  CHECK(state.Heartbeat(ParseQuery("deviceSID=new"), &details) == 200);
  CHECK(state.Heartbeat(ParseQuery("deviceSID="), &details) == 404);

  state.SetFailRule({std::string(kAnyPage), FailMode{FailMode::kClose, 0}});
  state.SetFailRule({"Heartbeat", FailMode{FailMode::kStall, 0}});
  CHECK(state.FailFor("Heartbeat").kind == FailMode::kStall);
  CHECK(state.FailFor("update").kind == FailMode::kClose);
  state.SetFailRule({"Heartbeat", FailMode{}});
  CHECK(state.FailFor("Heartbeat").kind == FailMode::kClose);
  state.ClearFailRules();
  CHECK(state.FailFor("Heartbeat").kind == FailMode::kNone);
}

}  // namespace

int main() {
  RequestsEndAtTheFirstEmptyLineWhateverTheLineEnds();
  BodiesFollowContentLengthUnlessThePeerStopped();
  TargetsAndQueries();
  UploadsAreFoundAndNamedSafely();
  FailRulesAndOptions();
  AnswersHaveFourLinesAndAnExactLength();
  BrokerMemory();
  if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
