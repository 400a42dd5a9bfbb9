// The proxy the user's system names for the broker. On Windows: the
// browser's Internet Settings (ProxyEnable, ProxyServer), read as they are.
// Elsewhere: the desktop's proxy configuration through libproxy (GNOME or
// KDE settings, a PAC file or WPAD, the proxy environment with no_proxy),
// asked for the broker's plain and secure URL; where it reads the
// environment alone and answers "direct", all_proxy (all_proxy.h).
// Answers may carry a user name and password in their URLs; nothing here
// logs them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Where the system's answer came from.
enum class ProxyOrigin {
  kNone,
  kEnvironment,
  kGnomeSettings,
  kKdeSettings,
  kPacFile,
  kInternetSettings,
};

struct SystemProxy {
  ProxyOrigin origin = ProxyOrigin::kNone;
  // With kPacFile: the PAC file's URL as configured; empty when it is
  // found by WPAD.
  std::string pac_url;
  // Windows: the "ProxyServer" text while a proxy is enabled.
  std::optional<std::string> server;
  // Elsewhere: the proxies for the plain and the secure URL, best first,
  // as URLs ("http://h:p", "socks5://h:p", "direct://"). Both empty or
  // "direct://" first: no proxy.
  std::vector<std::string> plain;
  std::vector<std::string> secure;
};

// At most this many answers per URL, each at most this long; longer ones
// are dropped.
inline constexpr size_t kMaxProxyAnswers = 8;
inline constexpr size_t kMaxProxyAnswerLength = 1024;

// plain_url and secure_url: "http://host:port/" and "https://host:port/".
// Linux asks one proxy factory, made on first use and kept for the life of
// the process (a module's copy of this code uses the program's).
SystemProxy ReadSystemProxy(const std::string& plain_url, const std::string& secure_url);

// Once, at the program's start before other threads run: where
// XDG_CURRENT_DESKTOP names GNOME or KDE but the session markers the proxy
// library looks for are missing (a session that sets only the standard
// variable), sets them as that desktop's own session does
// (GNOME_DESKTOP_SESSION_ID, KDE_FULL_SESSION), so its proxy settings are
// followed. Without a GNOME or KDE session, the proxy library loads none of
// its plug-ins (the environment is read all the same). Does nothing on
// Windows.
void PrepareSystemProxy();

}  // namespace platform
