#include "support/http_client.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

int Connect(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(port);
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void ReadToClose(int fd, std::chrono::milliseconds timeout, HttpExchange* exchange) {
  const auto deadline = Clock::now() + timeout;
  char chunk[16384];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    pollfd item{fd, POLLIN, 0};
    int ready = ::poll(&item, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      exchange->answer.append(chunk, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    exchange->closed = true;
    return;
  }
}

}  // namespace

std::string FileAnswer(std::string_view type, std::string_view bytes) {
  std::string answer = "HTTP/1.0 200 OK\nContent-Type: ";
  answer.append(type).append("\nContent-Length: ").append(std::to_string(bytes.size()));
  return answer.append("\n\n").append(bytes);
}

HttpExchange Get(uint16_t port, std::string_view target) {
  OpenConnection connection(port);
  connection.Send("GET " + std::string(target) + " HTTP/1.0\r\n\r\n");
  return connection.Finish();
}

OpenConnection::OpenConnection(uint16_t port) : fd_(Connect(port)) {}

OpenConnection::~OpenConnection() {
  if (fd_ >= 0) ::close(fd_);
}

OpenConnection::OpenConnection(OpenConnection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

bool OpenConnection::Send(std::string_view data) { return fd_ >= 0 && SendAll(fd_, data); }

HttpExchange OpenConnection::Finish(std::chrono::milliseconds timeout) {
  HttpExchange exchange;
  exchange.connected = fd_ >= 0;
  if (fd_ >= 0) ReadToClose(fd_, timeout, &exchange);
  return exchange;
}

void OpenConnection::ShutdownWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}
