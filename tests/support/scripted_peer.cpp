#include "support/scripted_peer.h"

#include "platform/socket.h"

namespace {

constexpr uint32_t kPeerTimeoutMs = 10000;

}  // namespace

std::string PeerConnection::Read(size_t n) {
  std::string data;
  char chunk[4096];
  while (data.size() < n) {
    size_t want = std::min(sizeof chunk, n - data.size());
    auto got = platform::Receive(socket_, chunk, want);
    if (!got.ok() || got.value == 0) break;
    data.append(chunk, static_cast<size_t>(got.value));
  }
  return data;
}

std::string PeerConnection::ReadHeaders() {
  std::string data;
  char c;
  while (data.find("\n\n") == std::string::npos && data.find("\r\n\r\n") == std::string::npos) {
    auto got = platform::Receive(socket_, &c, 1);
    if (!got.ok() || got.value == 0) break;
    data.push_back(c);
  }
  return data;
}

bool PeerConnection::ReadUntilClosed(const std::function<bool()>& give_up) {
  char chunk[4096];
  for (;;) {
    auto got = platform::Receive(socket_, chunk, sizeof chunk);
    if (got.ok() && got.value == 0) return true;
    if (got.ok()) continue;
    if (!platform::IsTimeoutError(got.error)) return true;  // reset: closed all the same
    if (give_up()) return false;
  }
}

bool PeerConnection::Send(const std::string& data) { return platform::Send(socket_, data).ok(); }

ScriptedPeer::ScriptedPeer(std::function<bool(PeerConnection&)> script) {
  auto listener = platform::CreateTcpSocket();
  if (!listener.ok()) return;
  listener_ = listener.value;
  if (platform::BindLoopback(listener_, 0) != 0 || platform::Listen(listener_) != 0) return;
  port_ = platform::LocalPort(listener_).value;
  thread_ = std::thread([this, script = std::move(script)] {
    for (;;) {
      auto accepted = platform::Accept(listener_, nullptr);
      if (!accepted.ok()) return;
      platform::SetReceiveTimeout(accepted.value, kPeerTimeoutMs);
      PeerConnection connection(accepted.value);
      bool more = script(connection);
      platform::ShutdownSend(accepted.value);
      platform::CloseSocket(accepted.value);
      if (!more) return;
    }
  });
}

ScriptedPeer::~ScriptedPeer() {
  if (listener_ != platform::kInvalidSocket) platform::ShutdownBoth(listener_);
  if (thread_.joinable()) thread_.join();
  if (listener_ != platform::kInvalidSocket) platform::CloseSocket(listener_);
}

const std::string RecordingPeer::kBrokerOk =
    "HTTP/1.1 200 OK\r\nServer: Resin/3.0\r\n\r\n"
    "StatusCode=200\r\nName=OK\r\nDescription=Request completed\r\nDetails=\r\n";

RecordingPeer::RecordingPeer(std::string answer)
    : answer_(std::move(answer)), peer_([this](PeerConnection& connection) {
        std::string request = connection.ReadHeaders();
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        connection.Send(answer_);
        return true;
      }) {}

std::vector<std::string> RecordingPeer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}
