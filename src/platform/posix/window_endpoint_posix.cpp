#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/window_endpoint.h"

namespace platform {
namespace {

std::optional<sockaddr_un> Address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

std::string PathOf(const std::string& title) { return SessionDirectory() + "/" + title + ".sock"; }

int Connect(const std::string& title) {
  std::optional<sockaddr_un> address = Address(PathOf(title));
  if (!address) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&*address), sizeof *address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool IsPrivateDirectory(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == ::getuid() && (status.st_mode & 077) == 0;
}

}  // namespace

std::string FallbackSessionDirectory(const std::string& shared, const std::string& home) {
  std::string directory = shared + "/quovane-" + std::to_string(::getuid());
  ::mkdir(directory.c_str(), 0700);
  if (IsPrivateDirectory(directory)) return directory;
  directory = home + "/.quovane-session";
  ::mkdir(directory.c_str(), 0700);
  return directory;
}

std::string SessionDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return runtime;
  const char* home = std::getenv("HOME");
  return FallbackSessionDirectory("/tmp", home != nullptr && *home != '\0' ? home : ".");
}

bool WindowExists(const std::string& title) {
  int fd = Connect(title);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool PostToWindow(const std::string& title, const std::string& line) {
  int fd = Connect(title);
  if (fd < 0) return false;
  std::string text = line + "\n";
  bool sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return sent;
}

std::unique_ptr<WindowEndpoint> WindowEndpoint::Create(const std::string& title,
                                                       std::function<void(std::string)> on_line) {
  const std::string path = PathOf(title);
  std::optional<sockaddr_un> address = Address(path);
  if (!address) return nullptr;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  auto bind = [&] { return ::bind(fd, reinterpret_cast<sockaddr*>(&*address), sizeof *address); };
  int bound = bind();
  if (bound != 0 && errno == EADDRINUSE && !WindowExists(title)) {
    ::unlink(path.c_str());  // stale: its owner is gone
    bound = bind();
  }
  if (bound != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<WindowEndpoint>(new WindowEndpoint(fd, path, std::move(on_line)));
}

WindowEndpoint::WindowEndpoint(int listener, std::string path,
                               std::function<void(std::string)> on_line)
    : listener_(listener), path_(std::move(path)), on_line_(std::move(on_line)) {
  thread_ = std::thread([this] { Serve(); });
}

WindowEndpoint::~WindowEndpoint() {
  stopping_.store(true);
  ::shutdown(listener_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  ::close(listener_);
  ::unlink(path_.c_str());
}

void WindowEndpoint::Serve() {
  while (!stopping_.load()) {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    // One second for the whole text: a client that connects and says nothing
    // (the existence test), or trickles, must not hold up the next one or
    // the end of the program.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::string text;
    char chunk[512];
    while (text.size() < 65536) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd readable{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) != 1) break;
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      on_line_(text.substr(start, end - start));
    }
  }
}

void OnTerminationRequest(std::function<void()> on_signal) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  // Blocked here, so every thread started later inherits the mask and only
  // the waiting thread receives them.
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, on_signal = std::move(on_signal)] {
    for (;;) {
      int number = 0;
      if (::sigwait(&signals, &number) == 0) on_signal();
    }
  }).detach();
}

}  // namespace platform
