#include "device/proxy_settings.h"

#include "base/ascii.h"
#include "base/bounded_copy.h"
#include "base/guarded_text.h"
#include "base/log.h"
#include "base/settings.h"
#include "platform/environment.h"
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
  if (scheme_end != std::string_view::npos) {
    std::string_view scheme = url.substr(0, scheme_end);
    if (EqualsIgnoreCase(scheme, "socks5") || EqualsIgnoreCase(scheme, "socks5h")) {
      proxy.socks = true;
    } else if (!EqualsIgnoreCase(scheme, "http")) {
      return std::nullopt;
    }
    url.remove_prefix(scheme_end + 3);
  }
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

std::optional<ProxyUrl> FirstUsable(const std::optional<std::string>& first,
                                    const std::optional<std::string>& second) {
  std::optional<ProxyUrl> proxy;
  if (first) proxy = ParseProxyUrl(*first);
  if (!proxy && second) proxy = ParseProxyUrl(*second);
  return proxy;
}

std::string Entry(std::string_view key, const ProxyUrl& proxy) {
  std::string entry(key);
  entry.append("=").append(proxy.host).append(":").append(std::to_string(proxy.port));
  return entry;
}

std::optional<std::string> NonEmptyVariable(const std::string& name) {
  std::optional<std::string> value = platform::GetEnvironment(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::optional<std::string> LowerThenUpper(const std::string& lower, const std::string& upper) {
  std::optional<std::string> value = NonEmptyVariable(lower);
  return value ? value : NonEmptyVariable(upper);
}

}  // namespace

ProxyEnvironment ReadProxyEnvironment() {
  ProxyEnvironment environment;
  environment.http_proxy = NonEmptyVariable("http_proxy");
  environment.https_proxy = LowerThenUpper("https_proxy", "HTTPS_PROXY");
  environment.all_proxy = LowerThenUpper("all_proxy", "ALL_PROXY");
  return environment;
}

std::optional<std::string> ProxySettingFromEnvironment(const ProxyEnvironment& environment) {
  std::optional<ProxyUrl> plain = FirstUsable(environment.http_proxy, environment.all_proxy);
  std::optional<ProxyUrl> secure = FirstUsable(environment.https_proxy, environment.all_proxy);
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

bool ReadBrowserProxy(std::string* setting) {
  QvLog* log = QvLog::GetInstance();
  const platform::SystemProxy system = platform::ReadSystemProxy();
  std::optional<std::string> value =
      system.kept ? system.server : ProxySettingFromEnvironment(ReadProxyEnvironment());
  if (value && value->size() > kSettingLimit) value.reset();
  if (!value) {
    log->Write("Internet Explorer proxy not enabled.", 3);
    return false;
  }
  log->Write("=====================================", 3);
  log->WriteString("========================Internet Explorer Proxy is enabled!  ProxyServer=",
                   *value, 3);
  log->Write("=====================================", 3);
  if (setting != nullptr) *setting = *value;
  return true;
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

void InitProxyVars(QvProxyVars& vars) {
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

  std::string setting;
  if (!ReadBrowserProxy(&setting)) return;
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
    return;
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
}
