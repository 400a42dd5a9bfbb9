#include "host/message_calls.h"

#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct CallQueue {
  std::mutex lock;
  std::deque<std::unique_ptr<ExtensionCall>> waiting;
  int workers = 0;  // threads taking calls from the queue
};

// Lives as long as the process: its threads are detached.
CallQueue& Queue() {
  static auto* queue = new CallQueue();
  return *queue;
}

void Worker() {
  CallQueue& queue = Queue();
  for (;;) {
    std::unique_ptr<ExtensionCall> call;
    {
      std::lock_guard<std::mutex> hold(queue.lock);
      if (queue.waiting.empty()) {
        --queue.workers;
        return;
      }
      call = std::move(queue.waiting.front());
      queue.waiting.pop_front();
    }
    CallExtensionDll(call.release());
  }
}

}  // namespace

bool QueueExtensionCall(std::unique_ptr<ExtensionCall> call) {
  CallQueue& queue = Queue();
  std::lock_guard<std::mutex> hold(queue.lock);
  queue.waiting.push_back(std::move(call));
  if (queue.workers >= kMaxMessageCalls) return true;
  try {
    std::thread(Worker).detach();
    ++queue.workers;
  } catch (const std::system_error&) {
    // A running worker takes it in its turn; without one it would wait for good.
    if (queue.workers > 0) return true;
    queue.waiting.pop_back();
    return false;
  }
  return true;
}
