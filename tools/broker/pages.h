// What qvbroker answers to one request: the broker pages under /asys/, the
// failure modes, and the admin pages under /admin/ (plain ports, loopback
// peers only). Knows nothing about sockets: it turns received bytes into a
// Reply that the connection then carries out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "broker_state.h"
#include "http_request.h"
#include "options.h"
#include "recorder.h"
#include "relays.h"

namespace qvbroker {

struct ConnectionInfo {
  bool tls = false;
  uint16_t port = 0;
  std::string peer;
  bool peerLoopback = false;
  FailMode portMode;  // the listener's own failure mode
};

struct Reply {
  enum Kind { kSend, kClose, kReset, kStall };
  Kind kind = kSend;
  std::string bytes;  // kSend only
};

class Pages {
 public:
  // Both referents must outlive this object.
  Pages(BrokerState& state, Recorder& recorder, std::string storeDir);
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;

  // raw: the bytes received; request: parsed from them when state is
  // kComplete. An incomplete request is recorded and left unanswered.
  // The relays the admin page may replace; must outlive this object.
  void SetRelays(Relays* relays) { relays_ = relays; }

  Reply Handle(std::string_view raw, ParseState state, const HttpRequest& request,
               const ConnectionInfo& connection);

 private:
  Reply Admin(const HttpRequest& request);
  Reply Broker(std::string_view page, const HttpRequest& request, const ConnectionInfo& connection,
               std::string* outcome);
  Reply PostLog(const HttpRequest& request, unsigned number, std::string* outcome);

  BrokerState& state_;
  Recorder& recorder_;
  const std::string storeDir_;
  Relays* relays_ = nullptr;
};

// "Heartbeat" for "/asys/Heartbeat.jsp"; empty when the path is not a page.
std::string_view PageName(std::string_view path);

// A file name from a form reduced to its last path element, so that an
// upload cannot leave the store directory.
std::string SafeFileName(std::string_view name);

}  // namespace qvbroker
