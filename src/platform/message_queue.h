// The main thread's message queue: the stand-in for a window's message
// loop. Any thread posts; the main thread takes messages in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace platform {

struct Message {
  uint32_t id = 0;
  intptr_t wparam = 0;
  std::string payload;  // the text a command carries (the heap text of the original)
};

class MessageQueue {
 public:
  void Post(Message message);
  // Blocks until a message is there.
  Message Get();

 private:
  std::mutex lock_;
  std::condition_variable posted_;
  std::deque<Message> messages_;
};

}  // namespace platform
