#include "diagnostic_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/ascii.h"

namespace {

constexpr size_t kMaxOperationText = 127;
constexpr size_t kMaxProxySuccess = 255;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDottedAddress(std::string_view host) {
  if (host.empty() || host.size() > 15) return false;
  int parts = 0;
  size_t start = 0;
  for (;;) {
    size_t dot = host.find('.', start);
    std::string_view part = host.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), IsDigit)) {
      return false;
    }
    if (std::stoi(std::string(part)) > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool IsPort(std::string_view port) {
  if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit)) {
    return false;
  }
  const int value = std::stoi(std::string(port));
  return value > 0 && value <= 65535;
}

}  // namespace

int LeadingNumber(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    value = std::min(value * 10 + (c - '0'), 1000000);
  }
  return value;
}

std::vector<std::string> SplitOperations(std::string_view list, size_t max_ops, bool* too_many) {
  list = list.substr(0, kMaxOperationText);
  std::vector<std::string> names;
  *too_many = false;
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string_view name =
        list.substr(start, comma == std::string_view::npos ? comma : comma - start);
    if (names.size() == max_ops) {
      *too_many = true;
      break;
    }
    names.emplace_back(name);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return names;
}

std::vector<RelayProxy> ParseProxyList(std::string_view list, int count) {
  std::vector<RelayProxy> proxies;
  size_t start = 0;
  for (int i = 0; i < count && start <= list.size(); ++i) {
    size_t semi = list.find(';', start);
    std::string_view entry =
        list.substr(start, semi == std::string_view::npos ? semi : semi - start);
    start = semi == std::string_view::npos ? list.size() + 1 : semi + 1;
    size_t colon = entry.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view host = entry.substr(0, colon);
    std::string_view port = entry.substr(colon + 1);
    if (!IsDottedAddress(host) || !IsPort(port)) continue;
    RelayProxy proxy{};
    std::memcpy(proxy.host, host.data(), host.size());
    std::memcpy(proxy.port, port.data(), port.size());
    proxies.push_back(proxy);
  }
  return proxies;
}

std::string StatusCodeOf(std::string_view line) {
  size_t at = line.find("HTTP/1.0 ");
  if (at == std::string_view::npos) at = line.find("HTTP/1.1 ");
  if (at == std::string_view::npos) return {};
  at += 8;
  while (at < line.size() && line[at] == ' ') ++at;
  size_t end = line.find(' ', at);
  return std::string(line.substr(at, end == std::string_view::npos ? end : end - at));
}

bool IsPlainTemplateName(std::string_view name) {
  return !name.empty() && name.find("..") == std::string_view::npos &&
         name.find_first_of("/\\:") == std::string_view::npos;
}

bool IsUploadableName(std::string_view name) {
  // A '%' or '+' would be decoded into another name on the way out.
  return IsPlainTemplateName(name) && name.find_first_of("%+") == std::string_view::npos;
}

std::string QueryWithoutCredentials(std::string_view query) {
  std::string kept;
  while (!query.empty()) {
    const size_t end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    const std::string_view key = pair.substr(0, pair.find('='));
    if (pair.empty() || EqualsIgnoreCase(key, "creds")) continue;
    if (!kept.empty()) kept += '&';
    kept.append(pair);
  }
  return kept.empty() ? "operation=conntest" : kept;
}

std::string Redact(std::string text, std::vector<std::string> secrets) {
  std::sort(secrets.begin(), secrets.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    std::string out;
    size_t from = 0;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, from)) {
      out.append(text, from, at - from).push_back('*');
      from = at + secret.size();
    }
    if (from == 0) continue;
    out.append(text, from, std::string::npos);
    text = std::move(out);
  }
  return text;
}

const char* RelayVerdict(bool http_ok, bool protocol_ok) {
  if (http_ok && protocol_ok) return "HTTP and Yxprotocol both Succeeded";
  if (http_ok) return "HTTP Succeeded but Yxprotocol FAILED";
  if (protocol_ok) return "Yxprotocol Succeeded but HTTP FAILED";
  return "HTTP and Yxprotocol both FAILED";
}

std::string VerdictText(int index, std::string_view host) {
  static constexpr const char* kVerdicts[8] = {
      "Cannot connect to any sites. Please Check your internet connection.",
      "Can connect to %s, but cannot connect to the broker.  Your network may filter by domain "
      "names.  Please ask your network administrator.",
      "Can connect to broker , but cannot connect to %s.  Unable to make secure connection to "
      "broker.  Your internet connection may be unstable.  Please run diagnostic again.",
      "Cannot make secure(https) connection to the broker.  Ask your Network Administrator if "
      "https is blocked.",
      "Can connect to the broker only through a secure connection(https).  Your internet "
      "connection may be unstable.  Please run diagnostic again.",
      "Can connect to the broker only through a secure connection(https).  Your internet "
      "connection may be unstable.  Please run diagnostic again.",
      "Connectivity looks ok to Broker, although not to specified HTTP server.  Restart application "
      "and attempt to register again.",
      "Connectivity looks ok.   If you are still having trouble connecting restart the application.",
  };
  std::string text = kVerdicts[index & 7];
  if (size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, host);
  return text;
}

std::string Diagnosis(int index, std::string_view host) {
  const std::string text = VerdictText(index, host);
  return (index & 7) < 6 ? "<font color=\"red\">" + text + "</font>" : text;
}

void AppendProxySuccess(std::string& value, const RelayProxy& proxy) {
  std::string entry = std::string(proxy.host) + ":" + proxy.port + "|~" +
                      (proxy.http_ok ? "true" : "false") + "|~" +
                      (proxy.protocol_ok ? "true" : "false") + "|^";
  if (value.size() >= kMaxProxySuccess) return;
  value.append(entry, 0, kMaxProxySuccess - value.size());
}
