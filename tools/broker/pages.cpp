#include "pages.h"

#include <charconv>
#include <filesystem>
#include <fstream>

#include "answer.h"
#include "tls.h"

namespace qvbroker {
namespace {

constexpr std::string_view kPlainText = "text/plain";

Reply Send(std::string bytes) { return {Reply::kSend, std::move(bytes)}; }

Reply BrokerReply(int status, std::string_view details, std::string* outcome) {
  *outcome = "status=" + std::to_string(status);
  return Send(HttpResponse(200, kPlainText, BrokerBody(status, details)));
}

Reply AdminText(int code, std::string_view text) {
  return Send(HttpResponse(code, kPlainText, text, "qvbroker-admin"));
}

std::string HtmlPage(int code) {
  return "<html><head><title>" + std::to_string(code) + "</title></head><body><h1>" +
         std::to_string(code) + " " + std::string(ReasonPhrase(code)) + "</h1></body></html>\n";
}

Reply Misbehave(FailMode mode, std::string* outcome) {
  *outcome = DescribeFailMode(mode);
  switch (mode.kind) {
    case FailMode::kClose: return {Reply::kClose, {}};
    case FailMode::kReset: return {Reply::kReset, {}};
    case FailMode::kStall: return {Reply::kStall, {}};
    case FailMode::kGarbage:
      // What a captive portal or a stray web server would answer.
      return Send(HttpResponse(200, "text/html",
                               "<html><body><p>Please sign in to continue.</p></body></html>\n",
                               "gateway"));
    case FailMode::kHttp: return Send(HttpResponse(mode.code, "text/html", HtmlPage(mode.code)));
    case FailMode::kStatus: return Send(HttpResponse(200, kPlainText, BrokerBody(mode.code)));
    case FailMode::kNone:
    case FailMode::kRefuse: break;
  }
  return {Reply::kClose, {}};
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string_view PageName(std::string_view path) {
  constexpr std::string_view kPrefix = "/asys/";
  constexpr std::string_view kSuffix = ".jsp";
  if (!StartsWith(path, kPrefix) || path.size() <= kPrefix.size() + kSuffix.size()) return {};
  std::string_view name = path.substr(kPrefix.size());
  if (name.substr(name.size() - kSuffix.size()) != kSuffix) return {};
  name.remove_suffix(kSuffix.size());
  return name.find('/') == std::string_view::npos ? name : std::string_view();
}

std::string SafeFileName(std::string_view name) {
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return "upload.bin";
  return std::string(name);
}

Pages::Pages(BrokerState& state, Recorder& recorder, std::string storeDir)
    : state_(state), recorder_(recorder), storeDir_(std::move(storeDir)) {}

Reply Pages::Handle(std::string_view raw, ParseState parseState, const HttpRequest& request,
                    const ConnectionInfo& connection) {
  const bool complete = parseState == ParseState::kComplete;
  std::string_view path = complete ? PathOf(request.target) : std::string_view();
  if (StartsWith(path, "/admin/") && !connection.tls) {
    if (!connection.peerLoopback) return AdminText(403, "admin pages answer loopback peers only\n");
    return Admin(request);
  }

  unsigned number = recorder_.Add(connection.tls, connection.port, std::string(raw));
  std::string outcome;
  Reply reply;
  std::string_view page = PageName(path);
  if (parseState == ParseState::kIncomplete) {
    outcome = "incomplete";
    reply = {Reply::kClose, {}};
  } else if (connection.portMode.kind != FailMode::kNone) {
    reply = Misbehave(connection.portMode, &outcome);
  } else if (!complete) {
    outcome = "http=400";
    reply = Send(HttpResponse(400, "text/html", HtmlPage(400)));
  } else if (FailMode rule = state_.FailFor(page); !page.empty() && rule.kind != FailMode::kNone) {
    reply = Misbehave(rule, &outcome);
  } else if (page == "PostLog") {
    reply = PostLog(request, number, &outcome);
  } else if (!page.empty()) {
    reply = Broker(page, request, connection, &outcome);
  } else {
    outcome = "http=404";
    reply = Send(HttpResponse(404, "text/html", HtmlPage(404)));
  }
  recorder_.SetOutcome(number, outcome);
  return reply;
}

Reply Pages::Broker(std::string_view page, const HttpRequest& request,
                    const ConnectionInfo& connection, std::string* outcome) {
  Query query = ParseQuery(QueryOf(request.target));
  if (page == "DeviceLogin") {
    LoginAnswer answer = state_.Login(query, connection.peer);
    return BrokerReply(answer.status, answer.details, outcome);
  }
  if (page == "DeviceLogout") {
    state_.Logout(QueryValue(query, "deviceUID").value_or(""));
    return BrokerReply(200, {}, outcome);
  }
  if (page == "Heartbeat") {
    std::string details;
    int status = state_.Heartbeat(query, &details);
    return BrokerReply(status, details, outcome);
  }
  if (page == "update") {
    state_.RecordAck({QueryValue(query, "type").value_or(""), QueryValue(query, "status").value_or(""),
                      QueryValue(query, "messageSID").value_or("")});
    return BrokerReply(200, {}, outcome);
  }
  if (page == "ProxyList") return BrokerReply(200, state_.ProxyListDetails(), outcome);
  if (page == "UserLogout" || page == "CheckConnection" || page == "RecordHttpProxy" ||
      page == "ReportDiagnostics") {
    return BrokerReply(200, {}, outcome);
  }
  return BrokerReply(404, {}, outcome);
}

Reply Pages::PostLog(const HttpRequest& request, unsigned number, std::string* outcome) {
  auto upload = FindUpload(HeaderValue(request, "Content-Type").value_or(""), request.body);
  if (!upload) return BrokerReply(400, {}, outcome);
  std::string name = SafeFileName(upload->fileName);
  if (!storeDir_.empty()) {
    // Renamed into place so that a reader never sees half a file.
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(storeDir_, ec);
    fs::path final = fs::path(storeDir_) / name;
    fs::path partial = fs::path(storeDir_) / ("." + name + "." + std::to_string(number) + ".part");
    {
      std::ofstream file(partial, std::ios::binary | std::ios::trunc);
      file.write(upload->content.data(), static_cast<std::streamsize>(upload->content.size()));
      if (!file.flush()) return BrokerReply(500, {}, outcome);
    }
    fs::rename(partial, final, ec);
    if (ec) return BrokerReply(500, {}, outcome);
  }
  return BrokerReply(200, "file=" + name + "&bytes=" + std::to_string(upload->content.size()), outcome);
}

Reply Pages::Admin(const HttpRequest& request) {
  std::string_view path = PathOf(request.target);
  std::string_view rawQuery = QueryOf(request.target);
  std::string decoded = PercentDecode(rawQuery);

  if (path == "/admin/message" || StartsWith(path, "/admin/message/")) {
    std::string target = path.size() > 15 ? PercentDecode(path.substr(15)) : std::string();
    if (decoded.empty() || decoded.find('\r') != std::string::npos) {
      return AdminText(400, "a message is a non-empty query without CR\n");
    }
    state_.QueueMessage(std::move(target), std::move(decoded));
    return AdminText(200, "queued\n");
  }
  if (path == "/admin/messages") return AdminText(200, state_.ListMessages());
  if (path == "/admin/device") {
    std::string error = state_.UpsertDevice(ParseQuery(rawQuery));
    return error.empty() ? AdminText(200, "ok\n") : AdminText(400, error + "\n");
  }
  if (path == "/admin/devices") return AdminText(200, state_.ListDevices());
  if (path == "/admin/requests") return AdminText(200, recorder_.List());
  if (StartsWith(path, "/admin/request/")) {
    std::string_view digits = path.substr(15);
    unsigned number = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    auto bytes = ec == std::errc() && end == digits.data() + digits.size()
                     ? recorder_.Bytes(number)
                     : std::nullopt;
    if (!bytes) return AdminText(404, "no such request\n");
    return Send(HttpResponse(200, "application/octet-stream", *bytes, "qvbroker-admin"));
  }
  if (path == "/admin/acks") return AdminText(200, state_.ListAcks());
  if (path == "/admin/tls") return AdminText(200, TlsHandshakeCounts() + "\n");
  if (path == "/admin/fail") {
    if (decoded.empty()) return AdminText(200, state_.ListFailRules());
    if (decoded == "clear") {
      state_.ClearFailRules();
      return AdminText(200, "cleared\n");
    }
    auto rule = ParseFailRule(decoded);
    if (!rule || rule->mode.kind == FailMode::kRefuse) {
      return AdminText(400, "rule: MODE or Page=MODE (close, reset, garbage, stall, status=NNN, http=NNN, none)\n");
    }
    state_.SetFailRule(*rule);
    return AdminText(200, "ok\n");
  }
  if (path == "/admin/proxies") {
    if (decoded.empty()) return AdminText(200, state_.ProxyListDetails() + "\n");
    std::vector<std::string> proxies;
    if (decoded != "none") {
      std::string_view rest = decoded;
      while (!rest.empty()) {
        size_t semi = rest.find(';');
        if (semi != 0) proxies.emplace_back(rest.substr(0, semi));
        rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      }
    }
    state_.SetProxies(std::move(proxies));
    return AdminText(200, "ok\n");
  }
  if (path == "/admin/relays" && relays_ != nullptr) {
    if (decoded.empty()) return AdminText(200, relays_->List());
    std::vector<RelayMode> modes;
    if (decoded != "none") {
      std::string_view rest = decoded;
      while (!rest.empty()) {
        size_t comma = rest.find(',');
        auto mode = ParseRelayMode(rest.substr(0, comma));
        if (!mode) return AdminText(400, "relays: MODE[,MODE...] (accept, refuse, stall, once) or none\n");
        modes.push_back(*mode);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      }
    }
    if (std::string error = relays_->Replace(modes); !error.empty()) {
      state_.SetProxies({});
      return AdminText(500, error + "\n");
    }
    state_.SetProxies(relays_->Endpoints());
    return AdminText(200, relays_->List());
  }
  return AdminText(404, "admin pages: message[/DEVICE]?MSG messages device?QUERY devices requests "
                        "request/N acks fail[?RULE|?clear] proxies[?LIST|?none] "
                        "relays[?MODE,MODE|?none] tls\n");
}

}  // namespace qvbroker
