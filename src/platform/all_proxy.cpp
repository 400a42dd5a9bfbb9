#include "platform/all_proxy.h"

#include <cstdint>

namespace platform {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A decimal number of at most max; -1 when text is not one.
long Number(std::string_view text, long max) {
  if (text.empty() || text.size() > 5) return -1;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value <= max ? value : -1;
}

std::optional<uint32_t> IPv4(std::string_view text) {
  uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const long byte = Number(text.substr(0, dot), 255);
    if (byte < 0) return std::nullopt;
    address = (address << 8) | static_cast<uint32_t>(byte);
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return address;
}

// One no_proxy entry (without its port) against host.
bool EntryNames(std::string_view entry, std::string_view host) {
  if (entry == "*") return true;
  const size_t slash = entry.find('/');
  if (slash != std::string_view::npos) {
    const std::optional<uint32_t> net = IPv4(entry.substr(0, slash));
    const std::optional<uint32_t> address = IPv4(host);
    const long bits = Number(entry.substr(slash + 1), 32);
    if (!net || !address || bits < 0) return false;
    const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
    return (*net & mask) == (*address & mask);
  }
  if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
  if (entry.empty()) return false;
  if (SameName(entry, host)) return true;
  return host.size() > entry.size() && host[host.size() - entry.size() - 1] == '.' &&
         SameName(host.substr(host.size() - entry.size()), entry);
}

}  // namespace

bool NoProxyNames(std::string_view no_proxy, std::string_view host, int port) {
  while (!no_proxy.empty()) {
    const size_t comma = no_proxy.find(',');
    std::string_view entry = Trimmed(no_proxy.substr(0, comma));
    no_proxy.remove_prefix(comma == std::string_view::npos ? no_proxy.size() : comma + 1);
    // "host:port" names that port alone (an IPv6 address is no entry here).
    const size_t colon = entry.rfind(':');
    if (colon != std::string_view::npos && entry.find(':') == colon) {
      if (Number(entry.substr(colon + 1), 65535) != port) continue;
      entry = entry.substr(0, colon);
    }
    if (EntryNames(entry, host)) return true;
  }
  return false;
}

std::optional<std::string> AllProxyFor(std::string_view url, std::string_view all_proxy,
                                       std::string_view no_proxy) {
  all_proxy = Trimmed(all_proxy);
  if (all_proxy.empty()) return std::nullopt;
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return std::nullopt;
  const std::string_view scheme = url.substr(0, scheme_end);
  std::string_view authority = url.substr(scheme_end + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  std::string_view host = authority;
  int port = SameName(scheme, "https") ? 443 : 80;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    host = authority.substr(1, close == std::string_view::npos ? close : close - 1);
    authority.remove_prefix(close == std::string_view::npos ? authority.size() : close + 1);
    if (!authority.empty() && authority.front() == ':') port = Number(authority.substr(1), 65535);
  } else if (const size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = Number(authority.substr(colon + 1), 65535);
  }
  if (NoProxyNames(no_proxy, host, port)) return std::nullopt;
  if (all_proxy.find("://") == std::string_view::npos) return "http://" + std::string(all_proxy);
  return std::string(all_proxy);
}

}  // namespace platform
