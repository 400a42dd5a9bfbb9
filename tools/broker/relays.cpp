#include "relays.h"

#include <cstdio>

namespace qvbroker {
namespace {

constexpr size_t kMaxKept = 4096;
constexpr int kReadTimeoutMs = 2000;

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

}  // namespace

std::optional<RelayMode> ParseRelayMode(std::string_view text) {
  for (RelayMode mode : {RelayMode::kAccept, RelayMode::kRefuse, RelayMode::kStall, RelayMode::kOnce}) {
    if (text == RelayModeName(mode)) return mode;
  }
  return std::nullopt;
}

std::string_view RelayModeName(RelayMode mode) {
  switch (mode) {
    case RelayMode::kAccept: return "accept";
    case RelayMode::kRefuse: return "refuse";
    case RelayMode::kStall: return "stall";
    case RelayMode::kOnce: return "once";
  }
  return "accept";
}

Relays::~Relays() { Stop(); }

void Relays::Stop() {
  if (wake_) wake_->Signal();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  CloseAll();
}

void Relays::CloseAll() {
  for (Relay& relay : relays_) {
    if (relay.filler >= 0) sys::Close(relay.filler);
    sys::Close(relay.fd);
  }
  relays_.clear();
}

std::string Relays::Replace(const std::vector<RelayMode>& modes) {
  Stop();
  std::lock_guard lock(mutex_);
  std::vector<int> fds;
  std::vector<size_t> owners;
  for (RelayMode mode : modes) {
    Relay relay;
    relay.mode = mode;
    std::string error;
    const bool listens = mode != RelayMode::kRefuse;
    const int backlog = mode == RelayMode::kAccept ? 64 : 0;
    relay.fd = sys::OpenTcp(0, listens, &relay.port, &error, backlog);
    if (relay.fd < 0) {
      CloseAll();
      return error;
    }
    if (mode == RelayMode::kStall) {
      relay.filler = sys::ConnectLoopback(relay.port);
      if (relay.filler < 0) {
        sys::Close(relay.fd);
        CloseAll();
        return "cannot fill the queue of a stalling relay";
      }
    }
    if (mode == RelayMode::kAccept) {
      fds.push_back(relay.fd);
      owners.push_back(relays_.size());
    }
    relays_.push_back(std::move(relay));
  }
  wake_ = std::make_unique<sys::WakePipe>();
  if (!fds.empty()) {
    thread_ = std::thread([this, fds, owners, wake = wake_->readFd()] { AcceptLoop(fds, owners, wake); });
  }
  return {};
}

void Relays::AcceptLoop(std::vector<int> fds, std::vector<size_t> owners, int wakeFd) {
  sys::Accepted accepted;
  while (sys::AcceptNext(fds, wakeFd, &accepted)) {
    // A probe sends a few bytes and closes; a silent client costs a bounded read.
    sys::SetReceiveTimeout(accepted.fd, kReadTimeoutMs);
    std::string bytes;
    char buffer[1024];
    for (;;) {
      long n = sys::Receive(accepted.fd, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
      if (bytes.size() >= kMaxKept) break;
    }
    sys::Close(accepted.fd);
    std::lock_guard lock(mutex_);
    relays_[owners[accepted.listenerIndex]].received.push_back(bytes.substr(0, kMaxKept));
  }
}

std::vector<std::string> Relays::Endpoints() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Relay& relay : relays_) out.push_back("127.0.0.1:" + std::to_string(relay.port));
  return out;
}

std::string Relays::List() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const Relay& relay : relays_) {
    out += "127.0.0.1:" + std::to_string(relay.port) + " " + std::string(RelayModeName(relay.mode)) +
           " connections=" + std::to_string(relay.received.size()) + "\n";
    for (const std::string& bytes : relay.received) out += "  " + Printable(bytes) + "\n";
  }
  return out;
}

}  // namespace qvbroker
