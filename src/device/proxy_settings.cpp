#include "device/proxy_settings.h"

#include "base/ascii.h"
#include "base/bounded_copy.h"
#include "base/guarded_text.h"
#include "base/log.h"
#include "base/settings.h"
#include "platform/system_proxy.h"

namespace {

constexpr int kDefaultProxyPort = 1080;  // curl's, for a URL without a port
constexpr size_t kSettingLimit = 255;     // the registry value was read with 256 bytes
constexpr size_t kHostLimit = 127;        // the device's 128-byte host fields

struct ProxyUrl {
  bool socks = false;
  std::string host;
  int port = kDefaultProxyPort;
};

// A port of 1-65535 at the start of text, after blanks; what follows is
// ignored, as the system's decimal read did.
std::optional<int> LeadingPort(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  long value = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
    if (value > 65535) return std::nullopt;
  }
  if (digits == 0 || value == 0) return std::nullopt;
  return static_cast<int>(value);
}

// "host:port" at the start of text into host and port; false, touching
// neither, when it is not a usable pair.
bool TakeHostAndPort(std::string_view text, char* host, size_t host_size, int* port) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon >= host_size) return false;
  std::optional<int> number = LeadingPort(text.substr(colon + 1));
  if (!number) return false;
  CopyBounded(host, host_size, text.substr(0, colon));
  *port = *number;
  return true;
}

// Characters that would break the "ProxyServer" text or a host name.
bool IsHostCharacter(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte != 0x7f && c != ';' && c != '=' && c != ':' && c != '@' &&
         c != '[' && c != ']' && c != '"';
}

// scheme://[user[:password]@]host[:port][/...]
std::optional<ProxyUrl> ParseProxyUrl(std::string_view url) {
  while (!url.empty() && (url.front() == ' ' || url.front() == '\t')) url.remove_prefix(1);
  while (!url.empty() && (url.back() == ' ' || url.back() == '\t')) url.remove_suffix(1);

  ProxyUrl proxy;
  size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return std::nullopt;
  std::string_view scheme = url.substr(0, scheme_end);
  if (EqualsIgnoreCase(scheme, "socks") || EqualsIgnoreCase(scheme, "socks5") ||
      EqualsIgnoreCase(scheme, "socks5h")) {
    proxy.socks = true;
  } else if (!EqualsIgnoreCase(scheme, "http")) {
    return std::nullopt;
  }
  url.remove_prefix(scheme_end + 3);
  std::string_view authority = url.substr(0, url.find_first_of("/?#"));
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);

  size_t colon = authority.find(':');
  std::string_view host = authority.substr(0, colon);
  if (host.empty() || host.size() > kHostLimit) return std::nullopt;
  for (char c : host) {
    if (!IsHostCharacter(c)) return std::nullopt;
  }
  proxy.host = std::string(host);
  if (colon != std::string_view::npos && colon + 1 < authority.size()) {
    std::string_view digits = authority.substr(colon + 1);
    if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    std::optional<int> port = LeadingPort(digits);
    if (!port) return std::nullopt;
    proxy.port = *port;
  }
  return proxy;
}

// The first answer that says something usable: none for "direct://" or
// when none does.
std::optional<ProxyUrl> FirstUsable(const std::vector<std::string>& answers) {
  for (const std::string& answer : answers) {
    if (EqualsIgnoreCase(answer, "direct://")) return std::nullopt;
    if (std::optional<ProxyUrl> proxy = ParseProxyUrl(answer)) return proxy;
  }
  return std::nullopt;
}

std::string Entry(std::string_view key, const ProxyUrl& proxy) {
  std::string entry(key);
  entry.append("=").append(proxy.host).append(":").append(std::to_string(proxy.port));
  return entry;
}

// "scheme://host[:port]/" for a host and port as the settings hold them; a
// port that is not one is left out.
std::string BrokerUrl(std::string_view scheme, const std::string& host, const std::string& port) {
  std::string url(scheme);
  url.append("://");
  if (host.find(':') != std::string::npos) {
    url.append("[").append(host).append("]");
  } else {
    url.append(host);
  }
  std::optional<int> number = LeadingPort(port);
  if (number && port.find_first_not_of("0123456789") == std::string::npos) {
    url.append(":").append(std::to_string(*number));
  }
  return url.append("/");
}

// A PAC file's URL for the user's eyes: without a user name and password,
// printable, bounded.
std::string PacUrlText(std::string_view url) {
  constexpr size_t kShown = 200;
  std::string text;
  size_t scheme_end = url.find("://");
  if (scheme_end != std::string_view::npos) {
    size_t authority = scheme_end + 3;
    size_t authority_end = url.find_first_of("/?#", authority);
    std::string_view part = url.substr(authority, authority_end - authority);
    size_t at = part.rfind('@');
    if (at != std::string_view::npos) {
      text.assign(url.substr(0, authority));
      url.remove_prefix(authority + at + 1);
    }
  }
  text.append(url);
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = '?';
  }
  if (text.size() > kShown) text.resize(kShown);
  return text;
}

}  // namespace

std::optional<std::string> ProxySettingFromAnswers(const std::vector<std::string>& plain_answers,
                                                   const std::vector<std::string>& secure_answers) {
  std::optional<ProxyUrl> plain = FirstUsable(plain_answers);
  std::optional<ProxyUrl> secure = FirstUsable(secure_answers);
  const std::optional<ProxyUrl>& first = plain ? plain : secure;
  if (!first) return std::nullopt;

  std::string setting;
  if (first->socks) {
    setting = Entry("socks", *first);
  } else {
    if (plain) setting = Entry("http", *plain);
    if (secure && !secure->socks) {
      if (!setting.empty()) setting.append(";");
      setting.append(Entry("https", *secure));
    }
  }
  if (setting.size() > kSettingLimit) return std::nullopt;
  return setting;
}

std::string ProxyOriginText(platform::ProxyOrigin origin, std::string_view pac_url) {
  switch (origin) {
    case platform::ProxyOrigin::kEnvironment:
      return "environment";
    case platform::ProxyOrigin::kGnomeSettings:
      return "GNOME settings";
    case platform::ProxyOrigin::kKdeSettings:
      return "KDE settings";
    case platform::ProxyOrigin::kPacFile:
      return "PAC file (" + (pac_url.empty() ? std::string("WPAD") : PacUrlText(pac_url)) + ")";
    case platform::ProxyOrigin::kInternetSettings:
      return "Internet Settings";
    default:
      return "none";
  }
}

BrowserProxy ReadBrowserProxy() {
  QvSettings* settings = QvSettings::GetInstance();
  const std::string host = settings->BrokerIP();
  const platform::SystemProxy system =
      platform::ReadSystemProxy(BrokerUrl("http", host, settings->BrokerPort()),
                                BrokerUrl("https", host, settings->BrokerSecurePort()));
  BrowserProxy proxy;
  proxy.setting =
      system.server ? system.server : ProxySettingFromAnswers(system.plain, system.secure);
  if (proxy.setting && proxy.setting->size() > kSettingLimit) proxy.setting.reset();
  QvLog* log = QvLog::GetInstance();
  if (!proxy.setting) {
    log->Write("Internet Explorer proxy not enabled.", 3);
    return proxy;
  }
  proxy.origin = ProxyOriginText(system.origin, system.pac_url);
  log->Write("=====================================", 3);
  log->WriteString("========================Internet Explorer Proxy is enabled!  ProxyServer=",
                   *proxy.setting, 3);
  log->Write("=====================================", 3);
  return proxy;
}

int ParseProxySetting(std::string_view setting, std::string_view protocol, char* host,
                      size_t host_size, int* port) {
  if (setting.empty()) {
    *port = 0;
    return -1;
  }
  if (setting.find('=') == std::string_view::npos) {
    return TakeHostAndPort(setting, host, host_size, port) ? 0 : -1;
  }
  while (!setting.empty()) {
    size_t end = setting.find(';');
    std::string_view entry = setting.substr(0, end);
    setting.remove_prefix(end == std::string_view::npos ? setting.size() : end + 1);
    size_t equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    // A name inside the key, so "https" answers "http" when it comes
    // first, as it always has; a host such as socks.corp answers nothing.
    if (entry.substr(0, equals).find(protocol) == std::string_view::npos) continue;
    return TakeHostAndPort(entry.substr(equals + 1), host, host_size, port) ? 1 : -1;
  }
  return -2;
}

std::string InitProxyVars(QvProxyVars& vars) {
  for (char* field : {vars.szProxySetting, vars.szProxyServerName, vars.szHttpProxy,
                      vars.szHttpsProxy, vars.szCreds, vars.szCreds64}) {
    WriteGuarded(field, 1, "");
  }
  vars.bProxyEnabled = false;
  vars.bSocks = false;
  vars.nHttpPort = 0;
  vars.nHttpsPort = 0;
  vars.bCredsNeeded = false;
  WriteGuarded(vars.szBrokerIP, QvSettings::GetInstance()->BrokerIP());

  const BrowserProxy proxy = ReadBrowserProxy();
  if (!proxy.setting) return proxy.origin;
  const std::string& setting = *proxy.setting;
  WriteGuarded(vars.szProxySetting, setting);

  char host[sizeof vars.szHttpProxy];
  int port = 0;
  if (ParseProxySetting(setting, "socks", host, &port) == 1) {
    WriteGuarded(vars.szHttpProxy, host);
    WriteGuarded(vars.szHttpsProxy, host);
    vars.nHttpPort = port;
    vars.nHttpsPort = port;
    vars.bSocks = true;
  } else if (ParseProxySetting(setting, "http", host, &port) < 0) {
    QvLog::GetInstance()->WriteString(
        "QvDevice::InitProxyVars(): ProxyEnabled but ParseProxySetting returns err; ", setting, 3);
    QvLog::GetInstance()->Write("QvDevice::InitProxyVars() performed", 3);
    return "none";
  } else {
    WriteGuarded(vars.szHttpProxy, host);
    vars.nHttpPort = port;
    char secure_host[sizeof vars.szHttpsProxy];
    int secure_port = 0;
    if (ParseProxySetting(setting, "https", secure_host, &secure_port) >= 0) {
      WriteGuarded(vars.szHttpsProxy, secure_host);
      vars.nHttpsPort = secure_port;
    }
  }
  // Enabled only once the hosts are in place, for threads that look early.
  vars.bProxyEnabled = true;
  QvLog::GetInstance()->Write("QvDevice::InitProxyVars() performed", 3);
  return proxy.origin;
}
