// Proxy discovery: the device finds out by itself whether it sits behind a
// proxy. The system was built to read the browser's "ProxyServer" text
// ("host:port", or "http=h:p;https=h:p", or "socks=h:p"), and on Windows it
// still does. On Linux the desktop's proxy configuration, through libproxy
// (platform/system_proxy.h), names proxies for the broker's plain and
// secure URL; the first usable of each is written in that same text, so
// one parser serves both. InitProxyVars fills the device's proxy block
// once, when the device is built; nothing asks the system again for it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/proxy_vars.h"
#include "platform/system_proxy.h"

// The "ProxyServer" text, at most 255 characters, for the proxies named for
// the plain and the secure URL (best first). In each list the first usable
// answer counts: "direct://" (no proxy), "http://h:p", or a SOCKS 5 proxy
// ("socks://", "socks5://", "socks5h://"); other kinds, an IPv6 host or a
// bad port are passed over; a URL without a port gets 1080, as in curl.
// "socks=h:p" when plain requests are to go through SOCKS (or only secure
// ones are, through SOCKS), else "http=h:p" and, when the secure answer is
// an HTTP proxy, ";https=h:p". User names and passwords in URLs are dropped
// (credentials come from the user, through the pages). None when neither
// list names a usable proxy.
std::optional<std::string> ProxySettingFromAnswers(const std::vector<std::string>& plain,
                                                   const std::vector<std::string>& secure);

// Where a proxy came from, in words: "environment", "GNOME settings", "KDE
// settings", "PAC file (URL)" (the URL without user name and password,
// control characters as '?', at most 200 characters; "WPAD" when the file
// is found that way), "Internet Settings"; "none".
std::string ProxyOriginText(platform::ProxyOrigin origin, std::string_view pac_url);

// What the system says, and where that came from ("none" when no proxy is
// set).
struct BrowserProxy {
  std::optional<std::string> setting;
  std::string origin = "none";
};

// The browser proxy read, for the broker of the settings (BrokerIP with
// BrokerPort and BrokerSecurePort): a setting when a proxy is set. Logs as
// the registry read always did.
BrowserProxy ReadBrowserProxy();

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
// fields from the browser proxy read. Where the proxy came from, "none"
// when the proxy stays disabled.
std::string InitProxyVars(QvProxyVars& vars);
