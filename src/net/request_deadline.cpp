#include "net/request_deadline.h"

#include <algorithm>
#include <vector>

#include "base/log.h"
#include "platform/socket.h"

namespace {

// The requests under way, and the stop once it came. Lock order: this lock,
// then a request's own.
std::mutex g_lock;
std::condition_variable g_none_under_way;
bool g_stopping = false;
std::chrono::steady_clock::time_point g_stop_deadline;

std::vector<RequestDeadline*>& UnderWay() {
  // Never destroyed: a thread the program does not wait for may still end
  // a request while it exits.
  static auto* requests = new std::vector<RequestDeadline*>();
  return *requests;
}

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
    UnderWay().push_back(this);
  }
  watcher_ = std::thread([this] { Watch(); });
}

RequestDeadline::~RequestDeadline() { Disarm(); }

void RequestDeadline::Disarm() {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    std::vector<RequestDeadline*>& requests = UnderWay();
    requests.erase(std::remove(requests.begin(), requests.end(), this), requests.end());
    if (requests.empty()) g_none_under_way.notify_all();
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
    for (RequestDeadline* request : UnderWay()) request->Stop();
    ended = UnderWay().size();
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
  std::unique_lock<std::mutex> lock(g_lock);
  return g_none_under_way.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [] { return UnderWay().empty(); });
}

void ResumeOutboundRequests() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_stopping = false;
}
