// A client of the local web server for tests: raw request bytes over
// loopback, the answer read until the server ends the connection. Every
// wait is bounded, so a server that never answers fails a test instead of
// hanging it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct HttpExchange {
  bool connected = false;
  // The server ended the connection (orderly or by reset) before the
  // deadline; false means it was still open when the test gave up.
  bool closed = false;
  std::string answer;  // every byte received
};

inline constexpr std::chrono::milliseconds kAnswerTimeout{20000};
// The head of a module's plain-text answer as the server sends it.
inline constexpr char kEchoHead[] =
    "HTTP/1.0 200 OK\nCache-Control: no-store\nContent-Type: text/plain\n\n";

// "GET <target> HTTP/1.0" and an empty line.
HttpExchange Get(uint16_t port, std::string_view target);
// What the server answers for a file of that type and content.
std::string FileAnswer(std::string_view type, std::string_view bytes);
// curl as a user runs it (quiet, bounded in time) with args: what it
// printed, empty when the server closed without an answer; *status gets
// its exit status.
std::string Curl(const std::vector<std::string>& args, int* status = nullptr);

// A connection that is opened at once and then kept as the test says: it
// may stay silent (tying up a server thread in its receive), send later,
// and read its answer.
class OpenConnection {
 public:
  explicit OpenConnection(uint16_t port);
  ~OpenConnection();
  OpenConnection(OpenConnection&& other) noexcept;
  OpenConnection& operator=(OpenConnection&&) = delete;
  OpenConnection(const OpenConnection&) = delete;
  OpenConnection& operator=(const OpenConnection&) = delete;

  bool connected() const { return fd_ >= 0; }
  bool Send(std::string_view data);
  // Tells the server that nothing more comes.
  void ShutdownWrite();
  // Reads until the server closes, bounded by timeout.
  HttpExchange Finish(std::chrono::milliseconds timeout = kAnswerTimeout);

 private:
  int fd_ = -1;
};
