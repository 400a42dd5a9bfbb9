// The few operating-system calls qvbroker makes: loopback TCP sockets, a
// wake-up pipe for the accept loop, and the stop signals. Everything else in
// the tool is standard C++ and OpenSSL. Descriptors are plain ints owned by
// the caller; every call reports failure through its result, never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvbroker::sys {

// Binds 127.0.0.1:port (0 = any free port). With listen == false the socket
// stays bound but refuses connections: the port is reserved for the test and
// a connect to it is answered with a reset. Returns the fd, or -1 with *error.
// backlog: how many connections wait for accept; 0 lets exactly one in
// (Linux), after which new connections are neither refused nor accepted.
int OpenTcp(uint16_t port, bool listen, uint16_t* boundPort, std::string* error, int backlog = 64);

// A connection to 127.0.0.1:port, or -1.
int ConnectLoopback(uint16_t port);

struct Accepted {
  int fd = -1;
  size_t listenerIndex = 0;
  std::string peer;  // dotted address
  bool peerLoopback = false;
};

// Waits until one of the listeners has a connection or wakeFd is readable.
// Returns false when woken (or on a poll failure other than EINTR).
bool AcceptNext(const std::vector<int>& listeners, int wakeFd, Accepted* out);

// A pipe whose read end becomes readable once Signal() was called.
class WakePipe {
 public:
  WakePipe();
  ~WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  bool ok() const { return readFd_ >= 0; }
  int readFd() const { return readFd_; }
  void Signal();

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

void SetReceiveTimeout(int fd, int milliseconds);

enum : long { kTimedOut = -2, kFailed = -1 };
// > 0 bytes read, 0 end of stream, kTimedOut, kFailed.
long Receive(int fd, char* buffer, size_t size);
bool SendAll(int fd, const char* data, size_t size);

// Wakes a thread blocked on fd (its reads return end of stream).
void ShutdownBoth(int fd);
// Closes so that the peer sees a reset instead of an orderly end.
void CloseWithReset(int fd);
void Close(int fd);

// SIGPIPE ignored; SIGTERM and SIGINT blocked in this thread and in every
// thread started after it, so that WaitForStopSignal can take them.
void PrepareSignals();
int WaitForStopSignal();

}  // namespace qvbroker::sys
