#include "net/link_report.h"

namespace {

struct LinkReport {
  LinkFailure failure;
  int32_t tls = 0;
  std::string tls_failure;
};

LinkReport& ThisThread() {
  thread_local LinkReport report;
  return report;
}

}  // namespace

void NoteLinkFailure(std::string_view host, int port, std::string_view reason,
                     LinkFailureKind kind) {
  ThisThread().failure = LinkFailure{kind, std::string(host), port, std::string(reason)};
}

void NoteLinkReached() { ThisThread().failure = LinkFailure{}; }

std::string LastLinkFailure() {
  const LinkFailure& failure = ThisThread().failure;
  if (failure.kind == LinkFailureKind::kNone) return {};
  return failure.host + ":" + std::to_string(failure.port) + ": " + failure.reason;
}

LinkFailure LastLinkFailureDetail() { return ThisThread().failure; }

void NoteTlsOutcome(bool verified, std::string_view failure) {
  ThisThread().tls = verified ? 1 : 2;
  ThisThread().tls_failure.assign(failure);
}

void ClearTlsOutcome() {
  ThisThread().tls = 0;
  ThisThread().tls_failure.clear();
}

int32_t LastTlsState() { return ThisThread().tls; }

std::string LastTlsFailure() { return ThisThread().tls_failure; }
