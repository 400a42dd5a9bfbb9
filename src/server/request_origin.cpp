#include "server/request_origin.h"

#include <cctype>

#include "base/ascii.h"

namespace {

bool IsIPv4Literal(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c != '.' && !std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

RequestOrigin ReadRequestOrigin(std::string_view text) {
  RequestOrigin origin;
  size_t line_end = text.find('\n');
  while (line_end != std::string_view::npos) {
    text.remove_prefix(line_end + 1);
    line_end = text.find('\n');
    std::string_view line = text.substr(0, line_end);
    if (TrimBlanks(line).empty()) break;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (EqualsIgnoreCase(name, "Host")) {
      origin.host = std::string(value);
    } else if (EqualsIgnoreCase(name, "Sec-Fetch-Site")) {
      origin.fetch_site = std::string(value);
    }
  }
  return origin;
}

bool HostNamesThisMachine(std::string_view host, std::string_view own_name) {
  if (host.empty()) return true;
  if (host.front() == '[') {  // an IPv6 literal
    size_t close = host.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    for (char c : host.substr(1, close - 1)) {
      if (c != ':' && c != '.' && !std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
  }
  std::string_view name = host.substr(0, host.find(':'));
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return IsIPv4Literal(name) || EqualsIgnoreCase(name, "localhost") ||
         (!own_name.empty() && EqualsIgnoreCase(name, own_name));
}

std::string RefusalReason(const RequestOrigin& origin, bool module_call,
                          std::string_view own_name) {
  if (origin.host && !HostNamesThisMachine(*origin.host, own_name)) {
    return "Refused request for host " + *origin.host;
  }
  if (module_call && origin.fetch_site && EqualsIgnoreCase(*origin.fetch_site, "cross-site")) {
    return "Refused cross-site module call";
  }
  return std::string();
}
