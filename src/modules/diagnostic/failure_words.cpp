#include "failure_words.h"

#include "diagnostic_text.h"

namespace {

// A receive that gave up this close to the time-out gave up because of it.
constexpr uint32_t kTimeOutSlackMs = 50;

std::string Address(const LinkFailure& link) {
  return link.host + ":" + std::to_string(link.port);
}

Failure FromLink(const Evidence& e) {
  const std::string where = Address(e.link);
  const bool at_proxy = !e.proxy.empty() && where == e.proxy;
  switch (e.link.kind) {
    case LinkFailureKind::kNameLookup:
      return {FailureKind::kNameLookup, "Name lookup failed: " +
                                            std::string(at_proxy ? "the proxy's name " : "") +
                                            e.link.host + " does not resolve."};
    case LinkFailureKind::kRefused:
      return {FailureKind::kRefused,
              at_proxy ? "Connection refused: the proxy at " + where + " does not accept connections."
                       : "Connection refused: nothing accepts connections at " + where + "."};
    case LinkFailureKind::kTimedOut:
      return {FailureKind::kTimeOut, "Time-out: " + std::string(at_proxy ? "the proxy at " : "") +
                                         where + " did not accept the connection within " +
                                         Duration(e.timeout_ms) + "."};
    case LinkFailureKind::kOther:
    case LinkFailureKind::kNone: break;
  }
  return {FailureKind::kOther, where + " could not be reached: " + e.link.reason + "."};
}

Failure FromErrorLine(const Evidence& e) {
  if (e.proxy.empty()) {
    return {FailureKind::kServerRefused, e.target + " refused the request: " + e.error_line + "."};
  }
  const std::string code = StatusCodeOf(e.error_line);
  const std::string proxy = "the proxy at " + e.proxy;
  std::string words;
  if (code == "407") {
    words = e.credentials_sent ? proxy + " did not accept the user name and password"
                               : proxy + " asks for a user name and password";
  } else if (code == "502") {
    words = proxy + " could not reach " + e.target;
  } else {
    words = proxy + " turned the request away";
  }
  return {FailureKind::kProxyRefused, "Proxy refused: " + words + " (" + e.error_line + ")."};
}

}  // namespace

Failure ExplainFailure(const Evidence& e) {
  if (e.link.kind != LinkFailureKind::kNone) return FromLink(e);
  if (e.tls_failed) {
    if (e.tls_reason == kTlsHandshakeFailed || e.tls_reason.empty()) {
      return {FailureKind::kHandshake,
              "TLS handshake failed: " + e.target + " did not complete a secure connection."};
    }
    return {FailureKind::kCertificate,
            "Certificate not accepted: " + e.tls_reason + " (" + e.target + ")."};
  }
  if (!e.error_line.empty()) return FromErrorLine(e);
  if (!e.broker_status.empty()) {
    return {FailureKind::kServerRefused,
            "The broker at " + e.target + " answered with status " + e.broker_status + "."};
  }
  const std::string via = e.proxy.empty() ? "" : " through the proxy at " + e.proxy;
  if (e.timeout_ms > 0 && e.elapsed_ms + kTimeOutSlackMs >= e.timeout_ms) {
    return {FailureKind::kTimeOut,
            "Time-out: no answer from " + e.target + via + " within " + Duration(e.timeout_ms) + "."};
  }
  if (e.socks && !e.proxy.empty()) {
    return {FailureKind::kProxyRefused, "Proxy refused: the SOCKS proxy at " + e.proxy +
                                            " did not open a connection to " + e.target + "."};
  }
  if (e.unreadable) {
    return {FailureKind::kNoAnswer,
            "No answer: " + e.target + via + " closed the connection without a broker answer."};
  }
  return {FailureKind::kNoAnswer,
          "No answer: the connection to " + e.target + via + " ended without an answer."};
}

const char* FailureName(FailureKind kind) {
  switch (kind) {
    case FailureKind::kNone: return "Passed";
    case FailureKind::kNameLookup: return "Name lookup failed";
    case FailureKind::kRefused: return "Connection refused";
    case FailureKind::kTimeOut: return "Time-out";
    case FailureKind::kProxyRefused: return "Proxy refused";
    case FailureKind::kCertificate: return "Certificate not accepted";
    case FailureKind::kHandshake: return "TLS handshake failed";
    case FailureKind::kNoAnswer: return "No answer";
    case FailureKind::kServerRefused: return "Refused by the server";
    case FailureKind::kOther: break;
  }
  return "Connection failed";
}

const char* FailureKey(FailureKind kind) {
  switch (kind) {
    case FailureKind::kNone: return "";
    case FailureKind::kNameLookup: return "name-lookup";
    case FailureKind::kRefused: return "connection-refused";
    case FailureKind::kTimeOut: return "time-out";
    case FailureKind::kProxyRefused: return "proxy-refused";
    case FailureKind::kCertificate: return "certificate";
    case FailureKind::kHandshake: return "tls-handshake";
    case FailureKind::kNoAnswer: return "no-answer";
    case FailureKind::kServerRefused: return "refused-by-server";
    case FailureKind::kOther: break;
  }
  return "connection-failed";
}

std::string Duration(uint32_t ms) {
  if (ms < 1000) return std::to_string(ms) + " ms";
  std::string text = std::to_string(ms / 1000);
  if (const uint32_t tenths = (ms % 1000) / 100; tenths != 0) text += "." + std::to_string(tenths);
  return text + " s";
}
