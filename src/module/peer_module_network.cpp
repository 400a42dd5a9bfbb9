// The module's outbound set-up: a device of the module's own runtime that
// mirrors the host's proxy situation, and the way back for what its
// requests learn. The host's record is read and written under the host's
// own text lock, which the record carries (QvDevice::TextGuard); its flags
// are atomics both sides share. What the requests learn of a proxy is
// reported to the broker as the host's are.
#include <mutex>
#include <string>
#include <string_view>

#include "base/bounded_copy.h"
#include "base/guarded_text.h"
#include "broker/record_http_proxy.h"
#include "device/device.h"
#include "module/QvPeerModule.h"
#include "net/outbound_state.h"

namespace {

// The host's proxy texts at one moment.
struct ProxyTexts {
  std::string setting, server_name, http, https, creds, creds64;
};

// What the runtime's device took from the host's at the last call's start,
// so that only what the requests changed goes back.
struct Taken {
  ProxyTexts texts;
  bool creds_needed = false;
  bool tunnel_ok = false;
};

// One per runtime: calls that overlap share the library, and a request of
// one call must not follow a device that another call freed.
QvDevice& RuntimeDevice() {
  static QvDevice device;
  return device;
}

std::mutex& Exchanging() {
  static std::mutex lock;
  return lock;
}

Taken& LastTaken() {
  static Taken taken;
  return taken;
}

ProxyTexts ReadHostTexts(const QvDevice& host) {
  const QvProxyVars& vars = host.GetProxyVars();
  std::lock_guard<const QvTextGuard> hold(host.TextGuard());
  return {std::string(FieldText(vars.szProxySetting)),
          std::string(FieldText(vars.szProxyServerName)),
          std::string(FieldText(vars.szHttpProxy)),
          std::string(FieldText(vars.szHttpsProxy)),
          std::string(FieldText(vars.szCreds)),
          std::string(FieldText(vars.szCreds64))};
}

Taken CopyProxySituation(QvDevice& to, const QvDevice& from) {
  QvProxyVars& mine = to.GetProxyVars();
  const QvProxyVars& host = from.GetProxyVars();
  Taken taken{ReadHostTexts(from), host.bCredsNeeded.load(), from.GetTunnelOK()};
  mine.bProxyEnabled.store(host.bProxyEnabled.load());
  mine.bSocks.store(host.bSocks.load());
  WriteGuarded(mine.szProxySetting, taken.texts.setting);
  WriteGuarded(mine.szProxyServerName, taken.texts.server_name);
  WriteGuarded(mine.szHttpProxy, taken.texts.http);
  WriteGuarded(mine.szHttpsProxy, taken.texts.https);
  mine.nHttpPort.store(host.nHttpPort.load());
  mine.nHttpsPort.store(host.nHttpsPort.load());
  mine.bCredsNeeded.store(taken.creds_needed);
  WriteGuarded(mine.szCreds, taken.texts.creds);
  WriteGuarded(mine.szCreds64, taken.texts.creds64);
  to.SetTunnelOK(taken.tunnel_ok);
  to.Status().NoteProxyOrigin(from.Status().ProxyOrigin());
  return taken;
}

// The host's device of this call, unless there is none or it is the
// runtime's own (a call from inside this runtime).
QvDevice* HostDevice(const tagREQUEST* request) {
  if (request == nullptr || request->pDevice == nullptr) return nullptr;
  return request->pDevice != &RuntimeDevice() ? request->pDevice : nullptr;
}

}  // namespace

QvDevice* QvPeerModule::UseHostNetwork() {
  QvDevice& runtime = RuntimeDevice();
  {
    std::lock_guard<std::mutex> lock(Exchanging());
    (void)runtime.LoadConfiguration();
    if (const QvDevice* host = HostDevice(m_pRequest)) {
      LastTaken() = CopyProxySituation(runtime, *host);
    }
  }
  SetOutboundDevice(&runtime);
  InstallProxyReport();
  return &runtime;
}

void QvPeerModule::HandBackHostNetwork() {
  std::lock_guard<std::mutex> lock(Exchanging());
  QvDevice* host = HostDevice(m_pRequest);
  if (host == nullptr) return;
  const QvDevice& runtime = RuntimeDevice();
  const QvProxyVars& now = runtime.GetProxyVars();
  const Taken& was = LastTaken();
  const std::string creds = ReadGuarded(now.szCreds);
  const std::string creds64 = ReadGuarded(now.szCreds64);
  const std::string name = ReadGuarded(now.szProxyServerName);
  QvProxyVars& theirs = host->GetProxyVars();
  {
    std::lock_guard<const QvTextGuard> hold(host->TextGuard());
    if (creds != was.texts.creds || creds64 != was.texts.creds64) {
      CopyBounded(theirs.szCreds, creds);
      CopyBounded(theirs.szCreds64, creds64);
    }
    // A name the host learnt meanwhile stays, as a claim does.
    if (!name.empty() && theirs.szProxyServerName[0] == '\0') {
      CopyBounded(theirs.szProxyServerName, name);
    }
  }
  // The flags after the texts: a host request that sees the flag cleared
  // must find the credentials that cleared it.
  const bool creds_needed = now.bCredsNeeded.load();
  if (creds_needed != was.creds_needed) theirs.bCredsNeeded.store(creds_needed);
  if (runtime.GetTunnelOK() != was.tunnel_ok) host->SetTunnelOK(runtime.GetTunnelOK());
}
