#include "net/request_deadline.h"

#include "platform/socket.h"

RequestDeadline::RequestDeadline(platform::SocketDescriptor socket,
                                 std::chrono::steady_clock::time_point deadline)
    : watcher_([this, socket, deadline] { Watch(socket, deadline); }) {}

RequestDeadline::~RequestDeadline() { Disarm(); }

void RequestDeadline::Disarm() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    disarmed_ = true;
  }
  wake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void RequestDeadline::Watch(platform::SocketDescriptor socket,
                            std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (wake_.wait_until(lock, deadline, [this] { return disarmed_; })) return;
  expired_.store(true);
  platform::ShutdownBoth(socket);
}
