#include "net/link_report.h"

#include "net/outbound_state.h"

namespace {

constexpr size_t kReasonLimit = 200;

struct LinkReport {
  LinkFailure failure;
  std::string request_failure;
  std::string proxy_refusal;
  int32_t tls = 0;
  std::string tls_failure;
};

LinkReport& ThisThread() {
  thread_local LinkReport report;
  return report;
}

std::function<void()>& WaitListener() {
  thread_local std::function<void()> listener;
  return listener;
}

std::string Where(std::string_view host, int port) {
  return std::string(host) + ":" + std::to_string(port);
}

}  // namespace

void NoteLinkFailure(std::string_view host, int port, std::string_view reason,
                     LinkFailureKind kind) {
  ThisThread().failure = LinkFailure{kind, std::string(host), port, std::string(reason)};
}

void NoteRequestFailure(std::string_view host, int port, std::string_view reason, bool proxy) {
  std::string& failure = ThisThread().request_failure;
  failure = (proxy ? "proxy " : "") + Where(host, port);
  failure.append(": ").append(reason.substr(0, kReasonLimit));
  // Parts of it come from the peer: it goes to terminals and pages as one line.
  for (char& c : failure) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
}

void NoteLinkReached() {
  ThisThread().failure = LinkFailure{};
  ThisThread().request_failure.clear();
}

std::string LastLinkFailure() {
  const LinkReport& report = ThisThread();
  if (!report.request_failure.empty()) return report.request_failure;
  if (report.failure.kind == LinkFailureKind::kNone) return {};
  return Where(report.failure.host, report.failure.port) + ": " + report.failure.reason;
}

LinkFailure LastLinkFailureDetail() { return ThisThread().failure; }

void SetWaitListener(std::function<void()> listener) { WaitListener() = std::move(listener); }

void NoteWaitBegins() {
  if (const std::function<void()>& listener = WaitListener()) listener();
}

std::string TimeoutReason() {
  return "no answer within " + std::to_string((OutboundTimeout() + 999) / 1000) + " s (time-out)";
}

void NoteProxyRefusal(std::string_view why) { ThisThread().proxy_refusal.assign(why); }

std::string TakeProxyRefusal() {
  std::string why;
  why.swap(ThisThread().proxy_refusal);
  return why;
}

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
