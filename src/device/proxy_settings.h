// Proxy discovery: the device finds out by itself whether it sits behind a
// proxy. The system was built to read the browser's "ProxyServer" text
// ("host:port", or "http=h:p;https=h:p", or "socks=h:p"); on Linux the
// user's proxy environment (http_proxy, https_proxy, all_proxy, as curl
// reads them) is turned into that same text, so one parser serves both.
// InitProxyVars fills the device's proxy block once, when the device is
// built; nothing reads the environment again later.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "device/proxy_vars.h"

// The proxy variables as curl gives them precedence: http_proxy in lower
// case only; https_proxy and all_proxy in lower case, else upper case. An
// empty value counts as not set.
struct ProxyEnvironment {
  std::optional<std::string> http_proxy;
  std::optional<std::string> https_proxy;
  std::optional<std::string> all_proxy;
};

ProxyEnvironment ReadProxyEnvironment();

// The "ProxyServer" text for the environment, at most 255 characters:
// "socks=h:p" when plain requests are to go through a SOCKS 5 proxy
// (socks5:// or socks5h://), else "http=h:p" and, when the HTTPS proxy is
// an HTTP proxy, ";https=h:p". Plain requests use http_proxy, else
// all_proxy; secure ones https_proxy, else all_proxy. A URL without a port
// gets 1080, as in curl. User names in URLs are dropped (credentials come
// from the user, through the pages). None when no usable proxy is set; a
// URL that cannot be written in the text (another scheme, an IPv6 host, a
// bad port) counts as not set.
std::optional<std::string> ProxySettingFromEnvironment(const ProxyEnvironment& environment);

// The browser proxy read: true, with the "ProxyServer" text in setting when
// one is given, when a proxy is set. Logs as the registry read always did.
bool ReadBrowserProxy(std::string* setting);

// Finds the proxy for protocol ("socks", "http" or "https") in a
// "ProxyServer" text; host gets at most host_size-1 characters.
//   1  found in a list: the first "key=host:port" entry whose key contains
//      protocol (so an "https=" entry that comes first also answers
//      "http"); entries without '=' are skipped;
//   0  the single "host:port" form, for every protocol;
//  -1  empty setting (port = 0), or the entry it points at has no host, no
//      ':' or no port in 1-65535, or a host longer than the buffer;
//  -2  protocol not in the list.
// On results below 0 host and port are not set (apart from port = 0 for an
// empty setting).
int ParseProxySetting(std::string_view setting, std::string_view protocol, char* host,
                      size_t host_size, int* port);

template <size_t N>
int ParseProxySetting(std::string_view setting, std::string_view protocol, char (&host)[N],
                      int* port) {
  return ParseProxySetting(setting, protocol, host, N, port);
}

// Empties the block, copies the BrokerIP setting, then fills the proxy
// fields from the browser proxy read.
void InitProxyVars(QvProxyVars& vars);
