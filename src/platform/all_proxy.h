// all_proxy: the proxy for every protocol that has no variable of its own,
// as curl, git and most tools read it (the usual way to send programs
// through an SSH or Tor SOCKS proxy). libproxy reads http_proxy and
// https_proxy but not this one, so it is the last fallback where libproxy
// answers "direct" from the environment alone. no_proxy still applies: a
// comma-separated list of host names (each also naming its subdomains, a
// leading dot or not), IPv4 addresses or ranges ("10.0.0.0/8"), an
// optional ":port" on each, or "*" for every host. Pure, so tested
// everywhere; only Linux asks it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The proxy's URL for url ("scheme://host[:port]/..."); "host:port" alone
// reads as an HTTP proxy. None when all_proxy is empty or no_proxy names
// the host.
std::optional<std::string> AllProxyFor(std::string_view url, std::string_view all_proxy,
                                       std::string_view no_proxy);

// Whether no_proxy names host (on port).
bool NoProxyNames(std::string_view no_proxy, std::string_view host, int port);

}  // namespace platform
