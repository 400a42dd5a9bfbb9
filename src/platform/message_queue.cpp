#include "platform/message_queue.h"

namespace platform {

void MessageQueue::Post(Message message) {
  std::function<void()> waker;
  {
    std::lock_guard<std::mutex> lock(lock_);
    messages_.push_back(std::move(message));
    waker = waker_;
  }
  posted_.notify_one();
  if (waker) waker();
}

Message MessageQueue::Get() {
  std::unique_lock<std::mutex> lock(lock_);
  posted_.wait(lock, [this] { return !messages_.empty(); });
  Message message = std::move(messages_.front());
  messages_.pop_front();
  return message;
}

std::optional<Message> MessageQueue::TryGet() {
  std::lock_guard<std::mutex> lock(lock_);
  if (messages_.empty()) return std::nullopt;
  Message message = std::move(messages_.front());
  messages_.pop_front();
  return message;
}

void MessageQueue::SetWaker(std::function<void()> waker) {
  std::lock_guard<std::mutex> lock(lock_);
  waker_ = std::move(waker);
}

}  // namespace platform
