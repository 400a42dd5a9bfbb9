// Programs that integration tests run beside them (qvbroker, squid, danted):
// started with their output in a log file, stopped with SIGTERM (SIGKILL
// after a grace period), always reaped; SIGTERM also reaches them when the
// test process dies. Waits are bounded; nothing sleeps a
// fixed time hoping a program is ready.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ChildProcess {
 public:
  // Starts program with args; stdout and stderr are appended to log. Null
  // when the program could not be started.
  static std::unique_ptr<ChildProcess> Start(const std::string& program,
                                             const std::vector<std::string>& args,
                                             const std::filesystem::path& log);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // Stop()

  int pid() const { return pid_; }
  // The exit status (128+signal for a signal) once ended within timeout.
  std::optional<int> WaitFor(std::chrono::milliseconds timeout);
  bool Running();
  // SIGTERM, then SIGKILL when it has not ended within grace.
  int Stop(std::chrono::milliseconds grace = std::chrono::seconds(10));

 private:
  explicit ChildProcess(int pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  int pid_;
  int pidfd_;
  std::optional<int> status_;
};

// Runs argv to its end (killed after timeout); its exit status, -1 when it
// could not start or was killed. Output goes to *output when given.
int RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               std::string* output = nullptr);

// Polls condition every few milliseconds until it holds or timeout passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// A loopback port that was free a moment ago (for programs that cannot be
// told to pick one themselves).
uint16_t FreeLoopbackPort();
// True when something accepts connections on 127.0.0.1:port.
bool LoopbackPortAccepts(uint16_t port);

// Where a program is installed, or empty.
std::string FindProgram(const std::vector<std::string>& candidates);
