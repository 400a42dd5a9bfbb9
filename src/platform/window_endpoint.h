// Windows that other processes find by title, as the stand-in for top-level
// windows: a Unix socket named "<title>.sock" in the user's session
// directory ($XDG_RUNTIME_DIR, else /tmp/quovane-<uid>/). Finding a window
// is connecting to its socket; posting to it is sending one line on it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace platform {

std::string SessionDirectory();
// Without $XDG_RUNTIME_DIR: "<shared>/quovane-<uid>" when it is a directory
// of this user's that nobody else may enter, else "<home>/.quovane-session".
// A directory someone else planted in a shared place would let them stall,
// take over or read what passes between the programs.
std::string FallbackSessionDirectory(const std::string& shared, const std::string& home);

// True when a live endpoint of that title exists.
bool WindowExists(const std::string& title);
// Sends one line ("<message> <wparam>" by convention) to the window.
bool PostToWindow(const std::string& title, const std::string& line);

// Owns a window endpoint: each line received is handed to on_line (on the
// endpoint's own thread).
class WindowEndpoint {
 public:
  ~WindowEndpoint();
  WindowEndpoint(const WindowEndpoint&) = delete;
  WindowEndpoint& operator=(const WindowEndpoint&) = delete;

  // Nothing when the title is taken by a live endpoint or the socket cannot
  // be made. A stale socket file (a crashed owner) is replaced.
  static std::unique_ptr<WindowEndpoint> Create(const std::string& title,
                                                std::function<void(std::string)> on_line);

 private:
  WindowEndpoint(int listener, std::string path, std::function<void(std::string)> on_line);
  void Serve();

  int listener_;
  std::string path_;
  std::function<void(std::string)> on_line_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Calls on_signal (on a thread of its own) when the process is asked to end
// (SIGTERM, SIGINT). Call before starting other threads.
void OnTerminationRequest(std::function<void()> on_signal);

}  // namespace platform
