// qvbroker's command line, and the failure modes that the command line and
// the admin page share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvbroker {

// How to misbehave instead of answering. Every mode but kRefuse applies after
// the request was read and recorded, so a test can see what the device sent.
struct FailMode {
  enum Kind { kNone, kRefuse, kClose, kReset, kGarbage, kStall, kStatus, kHttp };
  Kind kind = kNone;
  int code = 0;  // kStatus: broker status; kHttp: HTTP status
};

// "none", "refuse", "close", "reset", "garbage", "stall", "status=NNN",
// "http=NNN".
std::optional<FailMode> ParseFailMode(std::string_view text);
std::string DescribeFailMode(FailMode mode);

inline constexpr std::string_view kAnyPage = "*";

struct FailRule {
  std::string page;  // "Heartbeat", "update", ... or kAnyPage
  FailMode mode;
};

// "MODE" (every page) or "Page=MODE". A whole text that is a mode wins, so
// "status=404" is a mode for every page.
std::optional<FailRule> ParseFailRule(std::string_view text);

struct PortOption {
  uint16_t port = 0;  // 0: a free port chosen at start
  FailMode mode;      // for every request on this port
};

struct Options {
  std::vector<PortOption> plainPorts;
  std::vector<PortOption> tlsPorts;
  std::string certFile;
  std::string keyFile;
  std::string caOut;
  std::string readyFile;
  std::string recordDir;
  std::string storeDir;
  std::vector<std::string> messages;
  std::vector<std::string> devices;   // admin/device queries
  std::vector<std::string> proxies;   // host:port
  std::vector<std::string> relays;    // relay modes, opened at start
  std::vector<FailRule> failRules;    // page rules; refuse is folded into the ports
  bool open = false;
  int readTimeoutMs = 10000;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

inline constexpr char kVersionText[] = "qvbroker 1.0, a broker simulator for peerserver 3.6.1\n";

ParseOutcome ParseOptions(const std::vector<std::string>& args, Options* out, std::string* error);
std::string_view Usage();

}  // namespace qvbroker
