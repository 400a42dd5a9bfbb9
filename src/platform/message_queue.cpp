#include "platform/message_queue.h"

namespace platform {

void MessageQueue::Post(Message message) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    messages_.push_back(std::move(message));
  }
  posted_.notify_one();
}

Message MessageQueue::Get() {
  std::unique_lock<std::mutex> lock(lock_);
  posted_.wait(lock, [this] { return !messages_.empty(); });
  Message message = std::move(messages_.front());
  messages_.pop_front();
  return message;
}

}  // namespace platform
