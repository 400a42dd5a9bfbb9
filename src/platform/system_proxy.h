// The browser's proxy choice where the system keeps one: on Windows the
// user's Internet Settings (ProxyEnable, ProxyServer). Linux keeps none; its
// proxy environment stands in (net/proxy_settings.h).
#pragma once

#include <optional>
#include <string>

namespace platform {

struct SystemProxy {
  bool kept = false;                  // the system keeps the choice
  std::optional<std::string> server;  // the "ProxyServer" text when a proxy is enabled
};

SystemProxy ReadSystemProxy();

}  // namespace platform
