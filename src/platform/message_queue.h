// The main thread's message queue: the stand-in for a window's message
// queue. Any thread posts; the main thread takes messages in order, either
// blocking on Get or, under a desktop loop, when the waker tells it to.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

struct Message {
  uint32_t id = 0;
  intptr_t wparam = 0;
  intptr_t lparam = 0;
  std::string payload;  // the text a command carries (the heap text of the original)
};

class MessageQueue {
 public:
  void Post(Message message);
  // Blocks until a message is there.
  Message Get();
  std::optional<Message> TryGet();
  // Called after every Post, on the posting thread, so that a loop waiting
  // elsewhere than in Get learns of the message. Empty: nobody is told.
  void SetWaker(std::function<void()> waker);

 private:
  std::mutex lock_;
  std::condition_variable posted_;
  std::deque<Message> messages_;
  std::function<void()> waker_;
};

}  // namespace platform
