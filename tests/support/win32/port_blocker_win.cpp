#include "platform/socket.h"
#include "support/port_blocker.h"

// Bound on every local address without any address option, not listening.
PortBlocker::PortBlocker(const std::vector<uint16_t>& ports) {
  for (uint16_t port : ports) {
    auto created = platform::CreateTcpSocket();
    if (!created.ok()) continue;
    if (platform::BindAny(created.value, port) == 0) {
      sockets_.push_back(static_cast<int>(created.value));
    } else {
      platform::CloseSocket(created.value);
    }
  }
}

PortBlocker::~PortBlocker() {
  for (int fd : sockets_) platform::CloseSocket(static_cast<platform::SocketDescriptor>(fd));
}
