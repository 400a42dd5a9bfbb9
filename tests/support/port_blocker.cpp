#include "support/port_blocker.h"

#include <chrono>

#include "platform/socket.h"

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(5);

}  // namespace

PortBlocker::PortBlocker(const std::vector<uint16_t>& ports) : missed_(ports) {
  if (HoldMissed()) return;
  retry_ = std::thread([this] {
    while (!stop_.load() && !HoldMissed()) std::this_thread::sleep_for(kRetryPause);
  });
}

PortBlocker::~PortBlocker() {
  StopRetrying();
  for (intptr_t socket : sockets_) {
    platform::CloseSocket(static_cast<platform::SocketDescriptor>(socket));
  }
}

void PortBlocker::StopRetrying() {
  stop_.store(true);
  if (retry_.joinable()) retry_.join();
}

std::vector<uint16_t> PortBlocker::missed() const {
  std::lock_guard<std::mutex> hold(lock_);
  return missed_;
}

bool PortBlocker::HoldMissed() {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<uint16_t> still;
  for (uint16_t port : missed_) {
    auto created = platform::CreateTcpSocket();
    // Listening with the address option: a port that an earlier run's
    // connections still hold (TIME_WAIT) is taken too, and not even a
    // server that sets the option itself can bind beside a listener.
    if (created.ok() && platform::SetReuseAddress(created.value) == 0 &&
        platform::BindAny(created.value, port) == 0 && platform::Listen(created.value, 1) == 0) {
      sockets_.push_back(static_cast<intptr_t>(created.value));
      continue;
    }
    if (created.ok()) platform::CloseSocket(created.value);
    still.push_back(port);
  }
  missed_ = std::move(still);
  return missed_.empty();
}
