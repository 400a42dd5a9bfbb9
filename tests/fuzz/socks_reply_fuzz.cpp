// A SOCKS 5 proxy's replies (method, authentication, connect), received
// over a real loopback connection by EstablishSocksConnect. The first byte
// picks the credentials; each reply is preceded by its length.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/guarded_text.h"
#include "device/device.h"
#include "device/proxy_credentials.h"
#include "fuzz_peer.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/socks5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QvDevice* device = [] {
    auto* made = new QvDevice();
    SetOutboundDevice(made);
    SetOutboundTimeout(2000);
    return made;
  }();
  if (size == 0) return 0;
  static const char* kCredentials[] = {"", "alice:s3cret", "nocolon", ":"};
  const char* credentials = kCredentials[data[0] % 4];
  QvProxyVars& vars = device->GetProxyVars();
  WriteGuarded(vars.szCreds, "");
  WriteGuarded(vars.szCreds64, "");
  SubmitProxyCredentials(vars, credentials);

  const std::vector<std::string> replies = SplitReplies(data + 1, size - 1, 3);
  device->SetTunnelOK(false);
  QvNetUtil util;
  bool ok;
  {
    FuzzPeer peer(replies);
    ok = util.EstablishSocksConnect("127.0.0.1", 8080, *credentials ? "x" : nullptr, peer.client());
  }
  // An acknowledgement needs a method reply and a later one that begins 05 00.
  bool acknowledged = false;
  for (size_t i = 1; i < replies.size(); ++i) acknowledged |= SocksConnectAcknowledged(replies[i]);
  if (ok && (!device->GetTunnelOK() || !acknowledged)) std::abort();
  return 0;
}
