// The JSON answer: one object, keys in a fixed order, every text escaped.
// Its shape is documented in the README and checked against
// diagnostic.schema.json; change the three together.
#include <string>

#include "diagnostic_text.h"
#include "findings.h"

namespace {

// 2: skipped steps and the device's standing with its broker.
constexpr int kFormat = 2;

std::string Text(const std::string& text) { return "\"" + JsonEscape(text) + "\""; }
std::string TextOrNull(const std::string& text) { return text.empty() ? "null" : Text(text); }
std::string Flag(bool flag) { return flag ? "true" : "false"; }
std::string Outcome(bool ok) { return ok ? "\"ok\"" : "\"failed\""; }

std::string StepOutcome(const Step& step) {
  return step.skipped.empty() ? Outcome(step.ok) : "\"skipped\"";
}

std::string Failed(const Failure& failure) {
  if (failure.kind == FailureKind::kNone) return "\"failure\": null, \"error\": null";
  return std::string("\"failure\": ") + Text(FailureKey(failure.kind)) +
         ", \"error\": " + Text(failure.words);
}

std::string StepJson(const Step& step) {
  const bool passed = step.ok || !step.skipped.empty();
  return "{\"name\": " + Text(step.name) + ", \"label\": " + Text(StepLabel(step.name)) +
         ", \"target\": " + TextOrNull(step.target) + ", \"outcome\": " + StepOutcome(step) +
         ", \"code\": " + TextOrNull(step.code) + ", " +
         Failed(passed ? Failure{} : step.failure) +
         ", \"skipped\": " + TextOrNull(step.skipped) +
         ", \"milliseconds\": " + std::to_string(step.milliseconds) + "}";
}

std::string RelayJson(const RelayFinding& relay) {
  const bool ok = relay.http_ok && relay.protocol_ok;
  return "{\"address\": " + Text(relay.address) + ", \"outcome\": " + Outcome(ok) +
         ", \"http\": " + Flag(relay.http_ok) + ", \"protocol\": " + Flag(relay.protocol_ok) +
         ", \"text\": " + Text(RelayVerdict(relay.http_ok, relay.protocol_ok)) + ", " +
         Failed(ok ? Failure{} : relay.failure) + "}";
}

std::string Port(bool known, int port) { return known ? std::to_string(port) : "null"; }

std::string ProxyJson(const ProxyFacts& p) {
  const bool plain = p.enabled && !p.host.empty();
  const bool secure = p.enabled && !p.secure_host.empty();
  const char* type = !p.enabled ? "none" : p.socks ? "socks" : "http";
  return "{\"source\": " + Text(p.source) + ", \"type\": " + Text(type) +
         ", \"host\": " + (plain ? Text(p.host) : "null") + ", \"port\": " + Port(plain, p.port) +
         ", \"secureHost\": " + (secure ? Text(p.secure_host) : "null") +
         ", \"securePort\": " + Port(secure, p.secure_port) +
         ", \"credentials\": " + Text(p.credentials) + ", \"server\": " + TextOrNull(p.server) + "}";
}

template <typename T, typename F>
std::string List(const std::vector<T>& items, F each) {
  if (items.empty()) return "[]";
  std::string text = "[";
  for (size_t i = 0; i < items.size(); ++i) text += (i > 0 ? ",\n    " : "\n    ") + each(items[i]);
  return text + "\n  ]";
}

}  // namespace

std::string FindingsJson(const Findings& f) {
  std::string verdict = "null";
  if (f.verdict >= 0) {
    verdict = "{\"number\": " + std::to_string(f.verdict) + ", \"text\": " + Text(f.verdict_text) + "}";
  }
  return "{\n  \"format\": " + std::to_string(kFormat) + ",\n  \"version\": " + Text(f.version) +
         ",\n  \"agentVersion\": " + Text(f.agent_version) +
         ",\n  \"broker\": {\"state\": " + Text(f.broker_state) +
         ", \"text\": " + Text(f.broker_text) + "}" + ",\n  \"verdict\": " + verdict +
         ",\n  \"headline\": " + Text(Headline(f)) + ",\n  \"passed\": " + Flag(AllPassed(f)) +
         ",\n  \"steps\": " + List(f.steps, StepJson) + ",\n  \"proxy\": " + ProxyJson(f.proxy) +
         ",\n  \"relays\": " + List(f.relays, RelayJson) + "\n}\n";
}
