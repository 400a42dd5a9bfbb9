// Relay proxies on loopback for the device's relay test (ProxyList): each
// relay is a port that behaves one way, so that every outcome of the test's
// two probes (an HTTP "GET /testproxy" and a 12-byte protocol probe, each
// on a connection of its own) can be produced:
//   accept  accepts every connection and keeps what arrives (both succeed)
//   refuse  bound but not listening: connects are refused (both fail)
//   stall   its accept queue is full: connects are never answered, so each
//           probe costs the device its time-out (both fail)
//   once    lets one connection in and then stalls (the first probe, HTTP,
//           succeeds; the protocol probe fails)
// The last two rely on Linux's accept queue with a backlog of 0.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sys.h"

namespace qvbroker {

enum class RelayMode { kAccept, kRefuse, kStall, kOnce };

std::optional<RelayMode> ParseRelayMode(std::string_view text);
std::string_view RelayModeName(RelayMode mode);

class Relays {
 public:
  Relays() = default;
  ~Relays();
  Relays(const Relays&) = delete;
  Relays& operator=(const Relays&) = delete;

  // Closes the relays there are and opens one per mode, in order. Empty on
  // success, else the reason (and no relays).
  std::string Replace(const std::vector<RelayMode>& modes);
  // "127.0.0.1:PORT" per relay, in order.
  std::vector<std::string> Endpoints() const;
  // "127.0.0.1:PORT MODE connections=N" per relay, then one line per
  // connection with what it sent, bytes outside printable ASCII as \xNN.
  std::string List() const;
  void Stop();

 private:
  struct Relay {
    RelayMode mode = RelayMode::kAccept;
    int fd = -1;
    int filler = -1;  // stall: the connection that fills the queue
    uint16_t port = 0;
    std::vector<std::string> received;
  };
  void AcceptLoop(std::vector<int> fds, std::vector<size_t> owners, int wakeFd);
  void CloseAll();

  mutable std::mutex mutex_;
  std::vector<Relay> relays_;
  std::unique_ptr<sys::WakePipe> wake_;
  std::thread thread_;
};

}  // namespace qvbroker
