// What one diagnostic call found, gathered as its tests run: each step (a
// request the module made), each relay proxy probed, the proxy in use, and
// the verdict when the connectivity test ran. From it come the words the
// page shows (a headline and one explanation per row) and the JSON answer.
// The headline is made from the same rows it sums up, so the two cannot
// disagree. Pure data and pure functions; the module fills it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "failure_words.h"

struct Step {
  std::string name;    // the operation: "http", "https", "brkhttp", "brkhttps", "relaylist", "postfile"
  std::string target;  // "host:port"
  bool ok = false;
  std::string code;    // the result text: "200", a status code or "-1"
  Failure failure;     // kind kNone when ok
  std::string seen;    // for a step that passed: what it saw, when worth saying
  std::string skipped;  // why it was not tried; empty for a step that ran
  uint32_t milliseconds = 0;
};

struct RelayFinding {
  std::string address;  // "host:port"
  bool http_ok = false;
  bool protocol_ok = false;
  Failure failure;  // of the first probe that failed
};

struct ProxyFacts {
  std::string source;  // "none", "environment", ...
  bool enabled = false;
  bool socks = false;
  std::string host;  // for plain requests (or SOCKS)
  int port = 0;
  std::string secure_host;  // for secure requests
  int secure_port = 0;
  std::string credentials;  // "not required", "required", "refused" or "accepted"
  std::string server;       // what the proxy calls itself, or empty
};

struct Findings {
  int verdict = -1;  // 0 to 7 when the connectivity test ran and gave one
  std::string verdict_text;
  // The device's standing with its broker in the start page's words: its
  // word ("not configured", "online"...) and the whole line.
  std::string broker_state;
  std::string broker_text;
  std::vector<Step> steps;
  std::vector<RelayFinding> relays;
  ProxyFacts proxy;
  std::string version;        // the module's
  std::string agent_version;  // the product's
};

// "web site", "broker over HTTP", ...: a step as the headline names it.
std::string StepLabel(const std::string& name);
// The explanation of a step's row: what it saw, or what went wrong.
std::string StepNote(const Step& step);
std::string RelayNote(const RelayFinding& relay);

// How many failed, grouped by cause in words, then what answered, then what
// was skipped and why; "No test ran." when nothing was tried.
std::string Headline(const Findings& findings);
bool AllPassed(const Findings& findings);

// The documented JSON answer (README, "The diagnostic's JSON").
std::string FindingsJson(const Findings& findings);
