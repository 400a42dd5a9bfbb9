// The listeners and the connections: one accept thread for every port, one
// thread per connection that reads one request, lets Pages decide, carries
// out the reply and closes. Stop() wakes and joins every thread, so that the
// process ends with nothing running.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "options.h"
#include "pages.h"
#include "sys.h"
#include "tls.h"

namespace qvbroker {

class Server {
 public:
  // pages and tls (null: no TLS ports) must outlive the server.
  Server(const Options& options, Pages& pages, const TlsContext* tls);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds every port and starts accepting. Empty on success, else the reason.
  std::string Start();
  void Stop();

  std::vector<uint16_t> plainPorts() const { return Ports(false); }
  std::vector<uint16_t> tlsPorts() const { return Ports(true); }

 private:
  struct Listener {
    int fd = -1;
    uint16_t port = 0;
    bool tls = false;
    FailMode mode;
  };
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
    int fd = -1;  // guarded by mutex_; -1 once closed
  };

  std::vector<uint16_t> Ports(bool tls) const;
  void AcceptLoop();
  void Serve(Connection* connection, const sys::Accepted& accepted, const Listener& listener);
  void Finish(Connection* connection, bool reset);
  void ReapFinished();

  const Options& options_;
  Pages& pages_;
  const TlsContext* tls_;
  std::vector<Listener> listeners_;
  std::vector<size_t> accepting_;  // indexes of listeners that accept
  sys::WakePipe wake_;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace qvbroker
