// How a failed test is told to a person. What a request leaves behind (the
// link failure, the certificate check, the first line of an error answer,
// the time it took, the route) becomes the kind of failure and one sentence
// that names the cause and the address at fault. Pure functions.
#pragma once

#include <cstdint>
#include <string>

#include "net/link_report.h"

enum class FailureKind {
  kNone,
  kNameLookup,
  kRefused,
  kTimeOut,
  kProxyRefused,
  kCertificate,
  kHandshake,
  kNoAnswer,
  kServerRefused,
  kOther,
};

// What one request left behind, gathered before anything else is sent.
struct Evidence {
  std::string target;         // "host:port" the test asked for
  LinkFailure link;           // kind kNone when the connection opened
  bool tls_failed = false;    // the handshake failed...
  std::string tls_reason;     // ...for this reason (the verifier's words)
  std::string error_line;     // first line of an error answer, or empty
  std::string broker_status;  // a broker answer's status other than 200
  bool unreadable = false;    // no broker answer came (closed, or something else)
  std::string proxy;          // "host:port" of the proxy on the way; empty: direct
  bool socks = false;
  bool credentials_sent = false;  // the proxy was given a user name and password
  uint32_t elapsed_ms = 0;
  uint32_t timeout_ms = 0;
};

struct Failure {
  FailureKind kind = FailureKind::kNone;
  std::string words;  // one sentence; empty when kind is kNone
};

// Only for a request that failed.
Failure ExplainFailure(const Evidence& evidence);

// The cause in a few words, capitalised ("Connection refused").
const char* FailureName(FailureKind kind);
// The same for programs ("connection-refused"); empty for kNone.
const char* FailureKey(FailureKind kind);

// "500 ms", "1 s", "2.5 s".
std::string Duration(uint32_t milliseconds);
