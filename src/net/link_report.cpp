#include "net/link_report.h"

namespace {

struct LinkReport {
  std::string failure;
  int32_t tls = 0;
  std::string tls_failure;
};

LinkReport& ThisThread() {
  thread_local LinkReport report;
  return report;
}

}  // namespace

void NoteLinkFailure(std::string_view host, int port, std::string_view reason) {
  std::string& failure = ThisThread().failure;
  failure.assign(host);
  failure.append(":").append(std::to_string(port)).append(": ").append(reason);
}

void NoteLinkReached() { ThisThread().failure.clear(); }

std::string LastLinkFailure() { return ThisThread().failure; }

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
