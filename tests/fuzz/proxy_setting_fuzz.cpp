// Proxy setting texts, and the proxy URLs the system names that become
// them. The first byte picks the protocol asked for; the rest is the
// setting. Whatever the answers turn into must parse back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/proxy_settings.h"

namespace {

void CheckParse(std::string_view setting, std::string_view protocol) {
  char host[128];
  std::memset(host, 'X', sizeof host);
  int port = -7;
  int result = ParseProxySetting(setting, protocol, host, &port);
  if (result < -2 || result > 1) std::abort();
  if (result >= 0) {
    size_t length = strnlen(host, sizeof host);
    if (length == 0 || length == sizeof host) std::abort();
    if (port < 1 || port > 65535) std::abort();
  } else if (result == -1 && setting.empty() && port != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    CheckParse(std::string_view(), "http");
    return 0;
  }
  static constexpr const char* kProtocols[] = {"http", "https", "socks", ""};
  const char* protocol = kProtocols[data[0] % 4];
  // Settings and proxy answers are C texts: they end at a NUL. An
  // exact-size copy, so a read past the text is caught.
  const auto* begin = reinterpret_cast<const char*>(data + 1);
  const size_t length = strnlen(begin, size - 1);
  auto text = std::make_unique<char[]>(length == 0 ? 1 : length);
  if (length > 0) std::memcpy(text.get(), data + 1, length);
  std::string_view setting(text.get(), length);
  CheckParse(setting, protocol);

  // The same bytes as the proxies named for the plain and the secure URL:
  // lines, the two lists parted by an empty one.
  std::vector<std::string> lists[2];
  size_t list = 0;
  for (std::string_view rest = setting; !rest.empty();) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.empty()) {
      list = 1;
    } else {
      lists[list].emplace_back(line);
    }
  }
  std::optional<std::string> converted = ProxySettingFromAnswers(lists[0], lists[1]);
  if (converted) {
    if (converted->size() > 255) std::abort();
    char host[128];
    int port = 0;
    int socks = ParseProxySetting(*converted, "socks", host, &port);
    int http = ParseProxySetting(*converted, "http", host, &port);
    // Every converted text is a list naming either a SOCKS or an HTTP(S) proxy.
    if ((socks == 1) == (http == 1)) std::abort();
  }
  return 0;
}
