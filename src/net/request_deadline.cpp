#include "net/request_deadline.h"

#include "base/log.h"
#include "platform/socket.h"

namespace {

// The requests under way (a list through the requests themselves), and the
// stop once it came. Lock order: this lock, then a request's own.
std::mutex g_lock;
RequestDeadline* g_first = nullptr;
bool g_stopping = false;
std::chrono::steady_clock::time_point g_stop_deadline;
// How often the wait for the stopped requests looks again.
constexpr auto kEndedPoll = std::chrono::milliseconds(10);

}  // namespace

RequestDeadline::RequestDeadline(platform::SocketDescriptor socket,
                                 std::chrono::steady_clock::time_point deadline)
    : deadline_(deadline), socket_(socket) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_stopping && g_stop_deadline < deadline_) {
      deadline_ = g_stop_deadline;
      deadline_is_stop_ = true;
    }
    next_ = g_first;
    if (g_first != nullptr) g_first->previous_ = this;
    g_first = this;
    listed_ = true;
  }
  watcher_ = std::thread([this] { Watch(); });
}

RequestDeadline::~RequestDeadline() { Disarm(); }

void RequestDeadline::Disarm() {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (listed_) {
      if (previous_ != nullptr) previous_->next_ = next_;
      if (next_ != nullptr) next_->previous_ = previous_;
      if (g_first == this) g_first = next_;
      listed_ = false;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    disarmed_ = true;
  }
  wake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void RequestDeadline::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (wake_.wait_until(lock, deadline_, [this] { return disarmed_ || aborted_; })) return;
  Abort(deadline_is_stop_ ? stopped_ : expired_);
}

void RequestDeadline::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Abort(stopped_);
  }
  wake_.notify_all();
}

void RequestDeadline::Abort(std::atomic<bool>& cause) {
  if (disarmed_ || aborted_) return;
  aborted_ = true;
  cause.store(true);
  abandoned_.store(true);
  platform::AbortSocket(socket_);
}

void StopOutboundRequests(uint32_t grace_ms) {
  size_t ended = 0;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_stopping = true;
    g_stop_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms);
    for (RequestDeadline* request = g_first; request != nullptr; request = request->next_) {
      request->Stop();
      ++ended;
    }
  }
  if (ended > 0) {
    QvLog::GetInstance()->WriteNumber("Outbound requests stopped, under way: ",
                                      static_cast<long>(ended), 3);
  }
}

bool OutboundRequestsStopped() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_stopping;
}

bool WaitForOutboundRequestsEnded(uint32_t timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(g_lock);
      if (g_first == nullptr) return true;
    }
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(kEndedPoll);
  }
}

void ResumeOutboundRequests() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_stopping = false;
}
