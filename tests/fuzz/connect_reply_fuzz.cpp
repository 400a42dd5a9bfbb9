// A proxy's answer to the CONNECT of a tunnel, received over a real
// loopback connection and judged by EstablishProxyConnect (which learns
// the proxy's name, sets the flags, saves the error line and reports).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/guarded_text.h"
#include "device/device.h"
#include "fuzz_peer.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/proxy_tunnel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QvDevice* device = [] {
    auto* made = new QvDevice();
    SetOutboundDevice(made);
    SetOutboundTimeout(2000);
    return made;
  }();
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const TunnelReply judged = JudgeConnectReply(reply);

  WriteGuarded(device->GetProxyVars().szProxyServerName, "");
  device->SetTunnelOK(false);
  QvNetUtil util;
  bool ok;
  {
    FuzzPeer peer({reply});
    ok = util.EstablishProxyConnect("broker.example", 443, size % 2 ? "Zm9v" : nullptr,
                                    peer.client());
  }
  // Only a 200 opens the tunnel; only the judged statuses save a line.
  if (ok && !device->GetTunnelOK()) std::abort();
  if (size <= 1023 && std::memchr(data, 0, size) == nullptr &&
      ok != (judged == TunnelReply::kEstablished)) {
    std::abort();
  }
  if (util.GetLastErrorLine() != nullptr && std::strlen(util.GetLastErrorLine()) > 127)
    std::abort();
  if (ReadGuarded(device->GetProxyVars().szProxyServerName).size() > 255) std::abort();
  return 0;
}
