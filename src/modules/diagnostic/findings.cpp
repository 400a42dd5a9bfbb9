#include "findings.h"

#include <utility>

#include "base/text_list.h"

namespace {

struct Item {
  std::string label;
  FailureKind kind;  // kNone: answered
};

// The checks that ran: skipped steps are neither answered nor failed.
std::vector<Item> Items(const Findings& findings) {
  std::vector<Item> items;
  for (const Step& step : findings.steps) {
    if (!step.skipped.empty()) continue;
    items.push_back({StepLabel(step.name), step.ok ? FailureKind::kNone : step.failure.kind});
  }
  for (const RelayFinding& relay : findings.relays) {
    const bool ok = relay.http_ok && relay.protocol_ok;
    items.push_back({"relay proxy " + relay.address, ok ? FailureKind::kNone : relay.failure.kind});
  }
  return items;
}

}  // namespace

std::string StepLabel(const std::string& name) {
  static const std::pair<const char*, const char*> kLabels[] = {
      {"http", "web site"},           {"https", "web site over HTTPS"},
      {"brkhttp", "broker over HTTP"}, {"brkhttps", "broker over HTTPS"},
      {"relaylist", "relay list"},    {"postfile", "log upload"},
  };
  for (const auto& [key, label] : kLabels) {
    if (name == key) return label;
  }
  return name;
}

std::string StepNote(const Step& step) {
  if (!step.skipped.empty()) return "Skipped: " + step.skipped + ".";
  if (!step.ok) return step.failure.words;
  if (!step.seen.empty()) return step.seen;
  if (step.name == "http" || step.name == "https") return "The web site answered.";
  if (step.name == "postfile") return "The logs were uploaded to the broker.";
  return "The broker answered.";
}

std::string RelayNote(const RelayFinding& relay) {
  if (relay.http_ok && relay.protocol_ok) return "The relay took both probes.";
  return relay.failure.words;
}

bool AllPassed(const Findings& findings) {
  for (const Item& item : Items(findings)) {
    if (item.kind != FailureKind::kNone) return false;
  }
  return true;
}

// " Skipped: broker over HTTP and relay list (why)." for the steps not tried.
std::string SkippedPart(const Findings& findings) {
  std::vector<std::string> labels;
  std::string why;
  for (const Step& step : findings.steps) {
    if (step.skipped.empty()) continue;
    labels.push_back(StepLabel(step.name));
    if (why.empty()) why = step.skipped;
  }
  if (labels.empty()) return {};
  return " Skipped: " + JoinAsList(labels) + " (" + why + ").";
}

std::string Headline(const Findings& findings) {
  const std::vector<Item> items = Items(findings);
  if (items.empty()) return "No test ran." + SkippedPart(findings);
  std::vector<std::string> answered;
  // Causes in the order they first appear, each with the checks it stopped.
  std::vector<std::pair<FailureKind, std::vector<std::string>>> causes;
  for (const Item& item : items) {
    if (item.kind == FailureKind::kNone) {
      answered.push_back(item.label);
      continue;
    }
    auto cause = causes.begin();
    while (cause != causes.end() && cause->first != item.kind) ++cause;
    if (cause == causes.end()) cause = causes.insert(causes.end(), {item.kind, {}});
    cause->second.push_back(item.label);
  }
  if (causes.empty()) {
    return "Everything answered: " + JoinAsList(answered) + "." + SkippedPart(findings);
  }

  const size_t failed = items.size() - answered.size();
  std::string text;
  if (items.size() == 1) {
    text = "The check failed.";
  } else if (answered.empty() && items.size() == 2) {
    text = "Both checks failed.";
  } else if (answered.empty()) {
    text = "All " + std::to_string(items.size()) + " checks failed.";
  } else {
    text = std::to_string(failed) + " of " + std::to_string(items.size()) + " checks failed.";
  }
  for (const auto& [kind, labels] : causes) {
    text += std::string(" ") + FailureName(kind) + ": " + JoinAsList(labels) + ".";
  }
  if (!answered.empty()) text += " Answered: " + JoinAsList(answered) + ".";
  text += SkippedPart(findings);
  if (findings.proxy.credentials == "required") {
    text += " The proxy asks for a user name and password.";
  } else if (findings.proxy.credentials == "refused") {
    text += " The proxy did not accept the user name and password given.";
  }
  return text;
}
