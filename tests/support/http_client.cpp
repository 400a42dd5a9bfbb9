// The test client over the platform layer's socket calls, for both builds.
#include "support/http_client.h"

#include <utility>

#include "platform/socket.h"
#include "support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Socket handles are small numbers on 32-bit Windows; the header keeps an int.
int Connect(uint16_t port) {
  auto created = platform::CreateTcpSocket();
  if (!created.ok()) return -1;
  if (platform::ConnectLoopback(created.value, port) != 0) {
    platform::CloseSocket(created.value);
    return -1;
  }
  return static_cast<int>(created.value);
}

platform::SocketDescriptor Socket(int fd) { return static_cast<platform::SocketDescriptor>(fd); }

void ReadToClose(int fd, std::chrono::milliseconds timeout, HttpExchange* exchange) {
  const auto deadline = Clock::now() + timeout;
  char chunk[16384];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    if (!platform::WaitReadable(Socket(fd), static_cast<uint32_t>(left.count()))) return;
    auto [n, error] = platform::Receive(Socket(fd), chunk, sizeof chunk);
    if (n > 0) {
      exchange->answer.append(chunk, static_cast<size_t>(n));
      continue;
    }
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
  if (fd_ >= 0) platform::CloseSocket(Socket(fd_));
}

OpenConnection::OpenConnection(OpenConnection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

bool OpenConnection::Send(std::string_view data) {
  return fd_ >= 0 && platform::Send(Socket(fd_), data).ok();
}

HttpExchange OpenConnection::Finish(std::chrono::milliseconds timeout) {
  HttpExchange exchange;
  exchange.connected = fd_ >= 0;
  if (fd_ >= 0) ReadToClose(fd_, timeout, &exchange);
  return exchange;
}

void OpenConnection::ShutdownWrite() {
  if (fd_ >= 0) platform::ShutdownSend(Socket(fd_));
}

std::string Curl(const std::vector<std::string>& args, int* status) {
  std::vector<std::string> argv = {"/usr/bin/curl", "-s", "--max-time", "30"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string output;
  const int result = RunCommand(argv, std::chrono::seconds(60), &output);
  if (status != nullptr) *status = result;
  return output;
}
