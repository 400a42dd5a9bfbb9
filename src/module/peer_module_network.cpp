// The module's outbound set-up: a device of the module's own runtime that
// mirrors the host's proxy situation. The host's record is read once, as a
// snapshot: its texts are guarded by the host's lock, which a module cannot
// take, so the copy is made at one moment and never written back. What the
// requests learn of a proxy is reported to the broker as the host's are.
#include <mutex>
#include <string_view>

#include "base/bounded_copy.h"
#include "base/guarded_text.h"
#include "broker/record_http_proxy.h"
#include "device/device.h"
#include "module/QvPeerModule.h"
#include "net/outbound_state.h"

namespace {

template <size_t N>
void CopyText(char (&to)[N], const char (&from)[N]) {
  WriteGuarded(to, FieldText(from));
}

void CopyProxySituation(QvDevice& to, const QvDevice& from) {
  QvProxyVars& mine = to.GetProxyVars();
  const QvProxyVars& host = from.GetProxyVars();
  mine.bProxyEnabled.store(host.bProxyEnabled.load());
  mine.bSocks.store(host.bSocks.load());
  CopyText(mine.szProxySetting, host.szProxySetting);
  CopyText(mine.szProxyServerName, host.szProxyServerName);
  CopyText(mine.szHttpProxy, host.szHttpProxy);
  CopyText(mine.szHttpsProxy, host.szHttpsProxy);
  mine.nHttpPort.store(host.nHttpPort.load());
  mine.nHttpsPort.store(host.nHttpsPort.load());
  mine.bCredsNeeded.store(host.bCredsNeeded.load());
  CopyText(mine.szCreds, host.szCreds);
  CopyText(mine.szCreds64, host.szCreds64);
  to.SetTunnelOK(from.GetTunnelOK());
}

}  // namespace

QvDevice* QvPeerModule::UseHostNetwork() {
  // One per runtime: calls that overlap share the library, and a request
  // of one call must not follow a device that another call freed.
  static QvDevice runtime_device;
  static std::mutex copying;
  {
    std::lock_guard<std::mutex> lock(copying);
    (void)runtime_device.LoadConfiguration();
    if (m_pRequest != nullptr && m_pRequest->pDevice != nullptr &&
        m_pRequest->pDevice != &runtime_device) {
      CopyProxySituation(runtime_device, *m_pRequest->pDevice);
    }
  }
  SetOutboundDevice(&runtime_device);
  InstallProxyReport();
  return &runtime_device;
}
