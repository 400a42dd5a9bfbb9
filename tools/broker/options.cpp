#include "options.h"

#include "relays.h"

#include <charconv>

namespace qvbroker {
namespace {

std::optional<int> ParseNumber(std::string_view text, int min, int max) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

// "N" or "N:MODE".
std::optional<PortOption> ParsePortOption(std::string_view text) {
  PortOption entry;
  size_t colon = text.find(':');
  auto port = ParseNumber(text.substr(0, colon), 0, 65535);
  if (!port) return std::nullopt;
  entry.port = static_cast<uint16_t>(*port);
  if (colon != std::string_view::npos) {
    auto mode = ParseFailMode(text.substr(colon + 1));
    if (!mode) return std::nullopt;
    entry.mode = *mode;
  }
  return entry;
}

}  // namespace

std::optional<FailMode> ParseFailMode(std::string_view text) {
  static constexpr struct {
    std::string_view name;
    FailMode::Kind kind;
  } kPlain[] = {{"none", FailMode::kNone},       {"refuse", FailMode::kRefuse},
                {"close", FailMode::kClose},     {"reset", FailMode::kReset},
                {"garbage", FailMode::kGarbage}, {"stall", FailMode::kStall}};
  for (const auto& entry : kPlain) {
    if (text == entry.name) return FailMode{entry.kind, 0};
  }
  for (auto [prefix, kind] : {std::pair{std::string_view("status="), FailMode::kStatus},
                              std::pair{std::string_view("http="), FailMode::kHttp}}) {
    if (text.substr(0, prefix.size()) == prefix) {
      auto code = ParseNumber(text.substr(prefix.size()), 100, 999);
      if (!code) return std::nullopt;
      return FailMode{kind, *code};
    }
  }
  return std::nullopt;
}

std::string DescribeFailMode(FailMode mode) {
  switch (mode.kind) {
    case FailMode::kNone: return "none";
    case FailMode::kRefuse: return "refuse";
    case FailMode::kClose: return "close";
    case FailMode::kReset: return "reset";
    case FailMode::kGarbage: return "garbage";
    case FailMode::kStall: return "stall";
    case FailMode::kStatus: return "status=" + std::to_string(mode.code);
    case FailMode::kHttp: return "http=" + std::to_string(mode.code);
  }
  return "none";
}

std::optional<FailRule> ParseFailRule(std::string_view text) {
  if (auto mode = ParseFailMode(text)) return FailRule{std::string(kAnyPage), *mode};
  size_t eq = text.find('=');
  if (eq == 0 || eq == std::string_view::npos) return std::nullopt;
  auto mode = ParseFailMode(text.substr(eq + 1));
  // A single request cannot be refused: the connection is already accepted.
  if (!mode || mode->kind == FailMode::kRefuse) return std::nullopt;
  return FailRule{std::string(text.substr(0, eq)), *mode};
}

std::string_view Usage() {
  return R"(usage: qvbroker [options]
  --port N[:MODE]       plain HTTP port on 127.0.0.1, repeatable (default: one, 0 = free port)
  --tls-port N[:MODE]   TLS port, repeatable (default: one, 0 = free port)
  --cert F --key F      TLS certificate chain and key (PEM); without them a CA
                        and a server certificate for 127.0.0.1/localhost are made
  --ca-out F            write the generated CA certificate (PEM) to F
  --ready-file F        write the ready line to F once every port is open
  --record DIR          write each received request to DIR/NNNNNN-plain.req or -tls.req
  --store DIR           store PostLog uploads in DIR
  --message TEXT        queue a device message for any device, repeatable
  --device QUERY        register a device: deviceUID=U&deviceSID=S[&brokerKey=K]
                        [&loggedIn=0|1][&ip=A][&remoteip=A][&fw=N], repeatable
  --proxies LIST        relay proxies for ProxyList: host:port;host:port
  --relay MODE          open a relay on loopback and list it in ProxyList, repeatable;
                        MODE is accept, refuse, stall or once
  --fail RULE           MODE for every page or Page=MODE, repeatable; MODE is
                        none, refuse, close, reset, garbage, stall, status=NNN, http=NNN
                        (refuse: plain ports without a mode of their own)
  --open                accept heartbeats from devices never seen before
  --read-timeout MS     give up on a silent client after MS (default 10000)
  --help, --version
)";
}

ParseOutcome ParseOptions(const std::vector<std::string>& args, Options* out, std::string* error) {
  *out = Options{};
  bool refuseAll = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return ParseOutcome::kHelp;
    if (arg == "--version") return ParseOutcome::kVersion;
    if (arg == "--open") {
      out->open = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      *error = "missing value for " + arg;
      return ParseOutcome::kError;
    }
    const std::string& value = args[++i];
    auto bad = [&] {
      *error = "bad value for " + arg + ": " + value;
      return ParseOutcome::kError;
    };
    if (arg == "--port" || arg == "--tls-port") {
      auto entry = ParsePortOption(value);
      if (!entry) return bad();
      (arg == "--port" ? out->plainPorts : out->tlsPorts).push_back(*entry);
    } else if (arg == "--cert") {
      out->certFile = value;
    } else if (arg == "--key") {
      out->keyFile = value;
    } else if (arg == "--ca-out") {
      out->caOut = value;
    } else if (arg == "--ready-file") {
      out->readyFile = value;
    } else if (arg == "--record") {
      out->recordDir = value;
    } else if (arg == "--store") {
      out->storeDir = value;
    } else if (arg == "--message") {
      if (value.empty() || value.find('\r') != std::string::npos) return bad();
      out->messages.push_back(value);
    } else if (arg == "--device") {
      out->devices.push_back(value);
    } else if (arg == "--proxies") {
      std::string_view rest = value;
      while (!rest.empty()) {
        size_t semi = rest.find(';');
        std::string_view entry = rest.substr(0, semi);
        if (entry.find(':') == std::string_view::npos) return bad();
        out->proxies.emplace_back(entry);
        rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      }
    } else if (arg == "--relay") {
      if (!ParseRelayMode(value)) return bad();
      out->relays.push_back(value);
    } else if (arg == "--fail") {
      auto rule = ParseFailRule(value);
      if (!rule) return bad();
      if (rule->mode.kind == FailMode::kRefuse) {
        refuseAll = true;
      } else {
        out->failRules.push_back(*rule);
      }
    } else if (arg == "--read-timeout") {
      auto ms = ParseNumber(value, 1, 3600000);
      if (!ms) return bad();
      out->readTimeoutMs = *ms;
    } else {
      *error = "unknown option " + arg;
      return ParseOutcome::kError;
    }
  }
  if (out->certFile.empty() != out->keyFile.empty()) {
    *error = "--cert and --key go together";
    return ParseOutcome::kError;
  }
  if (!out->certFile.empty() && !out->caOut.empty()) {
    *error = "--ca-out writes a generated CA; it does not go with --cert";
    return ParseOutcome::kError;
  }
  if (out->plainPorts.empty()) out->plainPorts.push_back({});
  if (out->tlsPorts.empty()) out->tlsPorts.push_back({});
  if (refuseAll) {
    for (auto& entry : out->plainPorts) {
      if (entry.mode.kind == FailMode::kNone) entry.mode = FailMode{FailMode::kRefuse, 0};
    }
  }
  return ParseOutcome::kRun;
}

}  // namespace qvbroker
