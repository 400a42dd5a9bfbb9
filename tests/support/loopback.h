// A connected pair of TCP sockets on 127.0.0.1, closed on destruction.
#pragma once

#include <cstdint>
#include <string>

#include "platform/native_types.h"

class LoopbackPair {
 public:
  LoopbackPair();
  ~LoopbackPair();
  LoopbackPair(const LoopbackPair&) = delete;
  LoopbackPair& operator=(const LoopbackPair&) = delete;

  platform::SocketDescriptor client() const { return client_; }
  platform::SocketDescriptor server() const { return server_; }
  static constexpr uint32_t kReadAllTimeoutMs = 20000;
  // Everything the other end sends until it closes, or until it sends
  // nothing for kReadAllTimeoutMs.
  std::string ReadAll(platform::SocketDescriptor from);
  void CloseClient();
  // Hands the server's end to whoever closes it (a client thread).
  platform::SocketDescriptor ReleaseServer();

 private:
  platform::SocketDescriptor client_ = platform::kInvalidSocket;
  platform::SocketDescriptor server_ = platform::kInvalidSocket;
};
