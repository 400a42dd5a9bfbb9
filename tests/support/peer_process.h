// The base of every real peer a test starts (qvbroker, squid, dante,
// peerserver): a temporary directory of its own, the program with its
// output in a file there, a bounded wait until it is ready or has ended
// (its output in the failure), and cleanup: the program stopped, the
// directory removed.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

class PeerProcess {
 public:
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  // Why it is not ready: what it wrote, or why it could not start.
  const std::string& failure() const { return failure_; }
  const std::filesystem::path& dir() const { return dir_; }

 protected:
  explicit PeerProcess(const std::string& prefix);
  ~PeerProcess();

  // Starts program with its output in dir()/output and waits until ready
  // holds; false (and failure() says why) when it ended or timeout passed.
  // logs: further files in dir() that go into the failure text.
  bool Launch(const std::string& program, const std::vector<std::string>& args,
              const std::string& output, const std::function<bool()>& ready,
              std::chrono::seconds timeout, const std::vector<std::string>& logs = {});
  // Stops the program (SIGTERM, then SIGKILL); the directory stays.
  void StopProcess() { process_.reset(); }

  std::filesystem::path dir_;
  std::unique_ptr<ChildProcess> process_;
  std::string failure_;
};
