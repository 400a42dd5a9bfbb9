// A peer on a free loopback port that serves connections with a script run
// on its own thread: a stand-in proxy or server whose every byte the test
// chooses. Accepts connections one after another until the script returns
// false or the object goes.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/native_types.h"

class PeerConnection {
 public:
  explicit PeerConnection(platform::SocketDescriptor socket) : socket_(socket) {}
  // Exactly n bytes, or fewer when the other end closes or 10 s pass.
  std::string Read(size_t n);
  // Up to and including the first "\n\n" (or "\r\n\r\n"), bounded alike.
  std::string ReadHeaders();
  // Takes whatever comes until the other end closes (true), or until
  // give_up() says so at one of the 10 s time-outs (false).
  bool ReadUntilClosed(const std::function<bool()>& give_up);
  bool Send(const std::string& data);

 private:
  platform::SocketDescriptor socket_;
};

class ScriptedPeer {
 public:
  // script is called for each accepted connection; returning false stops
  // accepting. The connection is closed after each call.
  explicit ScriptedPeer(std::function<bool(PeerConnection&)> script);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const { return port_; }

 private:
  platform::SocketDescriptor listener_ = platform::kInvalidSocket;
  uint16_t port_ = 0;
  std::thread thread_;
};

// A peer that keeps each request's header block and answers every request
// with the same bytes (by default a broker answer with status 200).
class RecordingPeer {
 public:
  explicit RecordingPeer(std::string answer = kBrokerOk);
  uint16_t port() const { return peer_.port(); }
  std::vector<std::string> Requests() const;

  static const std::string kBrokerOk;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::string answer_;
  ScriptedPeer peer_;  // last: its thread uses the members above
};
