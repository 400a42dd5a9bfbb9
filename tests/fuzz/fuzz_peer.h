// For fuzz targets that drive a negotiation over a real loopback
// connection: a connected pair per input, the far end answering the
// negotiation's messages with the fuzzer's replies, one reply per message.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

class FuzzPeer {
 public:
  // Connects a client socket to a fresh peer that, for each reply, first
  // receives once, then sends the reply; then (or at an empty reply) it
  // closes its sending side.
  explicit FuzzPeer(std::vector<std::string> replies) {
    static const platform::SocketDescriptor listener = [] {
      auto socket = platform::CreateTcpSocket();
      platform::BindLoopback(socket.value, 0);
      platform::Listen(socket.value);
      return socket.value;
    }();
    static const uint16_t port = platform::LocalPort(listener).value;
    client_ = platform::CreateTcpSocket().value;
    platform::SetReceiveTimeout(client_, 2000);
    platform::ConnectLoopback(client_, port);
    server_ = platform::Accept(listener, nullptr).value;
    platform::SetReceiveTimeout(server_, 2000);
    thread_ = std::thread([this, replies = std::move(replies)] {
      char message[2048];
      for (const std::string& reply : replies) {
        auto got = platform::Receive(server_, message, sizeof message);
        if (!got.ok() || got.value == 0) break;
        // An empty reply closes, so that no side waits for the other.
        if (reply.empty() || !platform::Send(server_, reply).ok()) break;
      }
      platform::ShutdownSend(server_);
    });
  }
  ~FuzzPeer() {
    platform::ShutdownBoth(client_);
    thread_.join();
    platform::CloseSocket(client_);
    platform::CloseSocket(server_);
  }
  FuzzPeer(const FuzzPeer&) = delete;
  FuzzPeer& operator=(const FuzzPeer&) = delete;

  platform::SocketDescriptor client() const { return client_; }

 private:
  platform::SocketDescriptor client_;
  platform::SocketDescriptor server_;
  std::thread thread_;
};

// Splits data into up to n replies: each begins with a length byte.
inline std::vector<std::string> SplitReplies(const uint8_t* data, size_t size, size_t n) {
  std::vector<std::string> replies;
  size_t at = 0;
  while (replies.size() < n && at < size) {
    size_t length = data[at++];
    if (replies.size() + 1 == n || length > size - at) length = size - at;
    replies.emplace_back(reinterpret_cast<const char*>(data + at), length);
    at += length;
  }
  return replies;
}
