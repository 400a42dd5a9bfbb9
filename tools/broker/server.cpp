#include "server.h"

#include <system_error>

namespace qvbroker {

Server::Server(const Options& options, Pages& pages, const TlsContext* tls)
    : options_(options), pages_(pages), tls_(tls) {}

Server::~Server() {
  Stop();
  for (const auto& l : listeners_) sys::Close(l.fd);
}

std::vector<uint16_t> Server::Ports(bool tls) const {
  std::vector<uint16_t> ports;
  for (const auto& l : listeners_) {
    if (l.tls == tls) ports.push_back(l.port);
  }
  return ports;
}

std::string Server::Start() {
  if (!wake_.ok()) return "cannot make a pipe";
  auto open = [&](const std::vector<PortOption>& ports, bool tls) -> std::string {
    for (const auto& entry : ports) {
      std::string error;
      Listener l;
      l.tls = tls;
      l.mode = entry.mode;
      bool listen = entry.mode.kind != FailMode::kRefuse;
      l.fd = sys::OpenTcp(entry.port, listen, &l.port, &error);
      if (l.fd < 0) return error;
      if (listen) accepting_.push_back(listeners_.size());
      listeners_.push_back(l);
    }
    return {};
  };
  std::string error = open(options_.plainPorts, false);
  if (error.empty() && tls_) error = open(options_.tlsPorts, true);
  if (!error.empty()) return error;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return {};
}

void Server::Stop() {
  if (stopping_.exchange(true)) return;
  wake_.Signal();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::list<std::unique_ptr<Connection>> remaining;
  {
    std::lock_guard lock(mutex_);
    for (const auto& c : connections_) {
      if (c->fd >= 0) sys::ShutdownBoth(c->fd);
    }
    remaining.swap(connections_);
  }
  for (auto& c : remaining) c->thread.join();
}

void Server::AcceptLoop() {
  std::vector<int> fds;
  for (size_t i : accepting_) fds.push_back(listeners_[i].fd);
  sys::Accepted accepted;
  while (sys::AcceptNext(fds, wake_.readFd(), &accepted)) {
    ReapFinished();
    const Listener& listener = listeners_[accepting_[accepted.listenerIndex]];
    sys::SetReceiveTimeout(accepted.fd, options_.readTimeoutMs);
    std::lock_guard lock(mutex_);
    auto& connection = connections_.emplace_back(std::make_unique<Connection>());
    connection->fd = accepted.fd;
    Connection* raw = connection.get();
    try {
      connection->thread = std::thread([this, raw, accepted, &listener] {
        Serve(raw, accepted, listener);
        raw->done = true;
      });
    } catch (const std::system_error&) {
      // Out of threads: drop this client, keep serving the others.
      sys::Close(accepted.fd);
      connections_.pop_back();
    }
  }
}

void Server::ReapFinished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if ((*it)->done) finished.splice(finished.end(), connections_, it);
      it = next;
    }
  }
  for (auto& c : finished) c->thread.join();
}

void Server::Finish(Connection* connection, bool reset) {
  int fd;
  {
    std::lock_guard lock(mutex_);
    fd = connection->fd;
    connection->fd = -1;
  }
  if (reset) {
    sys::CloseWithReset(fd);
  } else {
    sys::Close(fd);
  }
}

void Server::Serve(Connection* connection, const sys::Accepted& accepted, const Listener& listener) {
  const int fd = accepted.fd;
  std::unique_ptr<TlsStream> tls;
  if (listener.tls) {
    tls = std::make_unique<TlsStream>(*tls_, fd);
    if (!tls->Handshake()) {
      tls.reset();
      Finish(connection, false);
      return;
    }
  }
  auto read = [&](char* buffer, size_t size) {
    return tls ? tls->Read(buffer, size) : sys::Receive(fd, buffer, size);
  };

  std::string data;
  HttpRequest request;
  ParseState state = ParseState::kIncomplete;
  char buffer[16384];
  for (;;) {
    state = ParseRequest(data, false, &request);
    if (state != ParseState::kIncomplete) break;
    long n = read(buffer, sizeof buffer);
    if (n > 0) {
      data.append(buffer, static_cast<size_t>(n));
      continue;
    }
    // End, time-out or failure: what has arrived is the whole request.
    state = ParseRequest(data, true, &request);
    break;
  }
  if (data.empty()) {
    tls.reset();
    Finish(connection, false);
    return;
  }

  ConnectionInfo info{listener.tls, listener.port, accepted.peer, accepted.peerLoopback,
                      listener.mode};
  Reply reply = pages_.Handle(data, state, request, info);
  switch (reply.kind) {
    case Reply::kSend:
      if (tls) {
        if (tls->WriteAll(reply.bytes.data(), reply.bytes.size())) tls->Close();
      } else {
        sys::SendAll(fd, reply.bytes.data(), reply.bytes.size());
      }
      break;
    case Reply::kStall:
      // Hold the connection without a word until the client gives up or
      // qvbroker stops (Stop() shuts the socket down, which ends the read).
      for (;;) {
        long n = read(buffer, sizeof buffer);
        if (n == 0 || n == sys::kFailed || stopping_) break;
      }
      break;
    case Reply::kClose:
    case Reply::kReset:
      break;
  }
  tls.reset();
  Finish(connection, reply.kind == Reply::kReset);
}

}  // namespace qvbroker
