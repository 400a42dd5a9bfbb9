#include "support/port_blocker.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

PortBlocker::PortBlocker(const std::vector<uint16_t>& ports) {
  for (uint16_t port : ports) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      sockets_.push_back(fd);
    } else {
      ::close(fd);
    }
  }
}

PortBlocker::~PortBlocker() {
  for (int fd : sockets_) ::close(fd);
}
