#include "support/outbound_device.h"

#include "base/guarded_text.h"
#include "broker/record_http_proxy.h"
#include "device/device.h"
#include "device/proxy_credentials.h"
#include "net/outbound_state.h"

QvDevice& TestOutboundDevice() {
  static QvDevice* device = [] {
    auto* made = new QvDevice();  // kept for the whole process, like the real one
    SetOutboundDevice(made);
    InstallProxyReport();
    return made;
  }();
  return *device;
}

void UseDirectRoute() {
  QvDevice& device = TestOutboundDevice();
  QvProxyVars& vars = device.GetProxyVars();
  vars.bProxyEnabled.store(false);
  vars.bSocks.store(false);
  vars.bCredsNeeded.store(false);
  WriteGuarded(vars.szHttpProxy, "");
  WriteGuarded(vars.szHttpsProxy, "");
  vars.nHttpPort.store(0);
  vars.nHttpsPort.store(0);
  WriteGuarded(vars.szCreds, "");
  WriteGuarded(vars.szCreds64, "");
  WriteGuarded(vars.szProxyServerName, "");
  device.SetTunnelOK(false);
}

namespace {

void UseProxy(uint16_t port, const std::string& credentials, bool socks) {
  UseDirectRoute();
  QvProxyVars& vars = TestOutboundDevice().GetProxyVars();
  WriteGuarded(vars.szHttpProxy, "127.0.0.1");
  WriteGuarded(vars.szHttpsProxy, "127.0.0.1");
  vars.nHttpPort.store(port);
  vars.nHttpsPort.store(port);
  vars.bSocks.store(socks);
  vars.bProxyEnabled.store(true);
  if (!credentials.empty()) SubmitProxyCredentials(vars, credentials);
}

}  // namespace

void UseHttpProxy(uint16_t port, const std::string& credentials) {
  UseProxy(port, credentials, false);
}

void UseSocksProxy(uint16_t port, const std::string& credentials) {
  UseProxy(port, credentials, true);
}
