#include <windows.h>

#include "platform/system_proxy.h"

namespace platform {

SystemProxy ReadSystemProxy(const std::string&, const std::string&) {
  SystemProxy proxy;
  const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  DWORD enabled = 0;
  DWORD size = sizeof enabled;
  if (::RegGetValueA(HKEY_CURRENT_USER, key, "ProxyEnable", RRF_RT_REG_DWORD, nullptr, &enabled,
                     &size) != ERROR_SUCCESS ||
      enabled == 0) {
    return proxy;
  }
  char server[1024];
  size = sizeof server;
  if (::RegGetValueA(HKEY_CURRENT_USER, key, "ProxyServer", RRF_RT_REG_SZ, nullptr, server,
                     &size) != ERROR_SUCCESS ||
      server[0] == '\0') {
    return proxy;
  }
  proxy.server = std::string(server);
  proxy.origin = ProxyOrigin::kInternetSettings;
  return proxy;
}

void PrepareSystemProxy() {}

}  // namespace platform
