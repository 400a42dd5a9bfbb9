#include "support/loopback.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/socket.h"

LoopbackPair::LoopbackPair() {
  auto listener = platform::CreateTcpSocket();
  EXPECT_TRUE(listener.ok());
  EXPECT_EQ(platform::BindLoopback(listener.value, 0), 0);
  EXPECT_EQ(platform::Listen(listener.value), 0);
  auto port = platform::LocalPort(listener.value);
  auto client = platform::CreateTcpSocket();
  EXPECT_EQ(platform::ConnectLoopback(client.value, port.value), 0);
  client_ = client.value;
  auto accepted = platform::Accept(listener.value, nullptr);
  EXPECT_TRUE(accepted.ok());
  server_ = accepted.value;
  platform::CloseSocket(listener.value);
}

LoopbackPair::~LoopbackPair() {
  CloseClient();
  if (server_ != platform::kInvalidSocket) platform::CloseSocket(server_);
}

void LoopbackPair::CloseClient() {
  if (client_ != platform::kInvalidSocket) platform::CloseSocket(client_);
  client_ = platform::kInvalidSocket;
}

platform::SocketDescriptor LoopbackPair::ReleaseServer() {
  return std::exchange(server_, platform::kInvalidSocket);
}

std::string LoopbackPair::ReadAll(platform::SocketDescriptor from) {
  // A close that never comes ends the read (and fails the test) in time.
  platform::SetReceiveTimeout(from, kReadAllTimeoutMs);
  std::string text;
  char chunk[4096];
  for (;;) {
    auto n = platform::Receive(from, chunk, sizeof chunk);
    if (!n.ok() || n.value == 0) return text;
    text.append(chunk, static_cast<size_t>(n.value));
  }
}
