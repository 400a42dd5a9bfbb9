// The real peerserver program for one test, started as a user would: in a
// temporary working directory with its own vane.ini, a web root holding the
// shipped pages (and test modules when asked), and a session directory of
// its own (XDG_RUNTIME_DIR), so that tests run side by side. Stopped with
// SIGTERM when the object goes.
//
//   <dir>/work     working directory: vane.ini, logs, vclient/port.htx, and
//                  a "vaneboot.exe" script that appends a line to
//                  "vaneboot-ran" when it is started
//   <dir>/doc      the port file "..\doc\port.js"
//   <dir>/root     the web root (AppPath)
//   <dir>/session  the session directory
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/qvbroker_fixture.h"

// The registered device that a with_broker broker knows.
inline constexpr char kPeerServerDeviceUid[] = "127.0.0.1-test-device";
inline constexpr char kPeerServerDeviceSid[] = "test-sid-1";

// The proxy passwords the tests give (and "alice:..." as Basic encodes
// them): no log line or output of peerserver may hold one.
inline constexpr const char* kProxySecrets[] = {"s3cret", "YWxpY2U6czNjcmV0", "wrongpw",
                                                "YWxpY2U6d3Jvbmdwdw=="};

// The sanitizers' options for a program started through env: the test's
// own, and the suppressions.
std::vector<std::string> SanitizerEnvironment();

// A command that opens connections to 127.0.0.1:port, "SOURCE=COUNT" of
// them from each source address, and keeps them silent; it prints
// "connected N", then "closed N" each time the server ends one, and stops
// once it ended all (or after 20 s).
std::vector<std::string> HoldConnections(uint16_t port, const std::vector<std::string>& groups);

struct PeerServerOptions {
  std::vector<std::string> args = {"-wbx"};
  // vane.ini keys beyond the defaults (LogLevel 3, AllowHosts 127.0.0.1,
  // AllowFiles for the pages, AppPath, AppPort on a free port), or
  // replacing them.
  std::map<std::string, std::string> settings{};
  // Modules copied into the web root and the working directory (where
  // device messages find them) and listed: library file, listed name.
  std::vector<std::pair<std::string, std::string>> modules{};
  // Files written into the working directory before the start: path
  // relative to it (folders are made), bytes.
  std::vector<std::pair<std::string, std::string>> work_files{};
  // A qvbroker that knows this device, so that it logs in and is online:
  // module requests then reach their modules instead of an offline redirect.
  bool with_broker = false;
  // Further qvbroker options for that broker (e.g. {"--fail",
  // "Heartbeat=status=500"}, or a second "--device" adding fields).
  std::vector<std::string> broker_args{};
  // Environment variables for peerserver beyond the test's own (e.g.
  // http_proxy, which becomes the device's proxy setting).
  std::map<std::string, std::string> environment{};
  // A program and its arguments that start peerserver (e.g. prlimit).
  std::vector<std::string> launcher{};
  // Another copy of the program (empty: the one built).
  std::string program{};
  // Wait until the listener runs (else only until the process started).
  bool wait_ready = true;
  // With wait_ready, wait also until the login at start has ended (or was
  // not tried): the server answers before it, the tests mostly after.
  bool wait_login = true;
};

class PeerServer : public PeerProcess {
 public:
  explicit PeerServer(PeerServerOptions options = {});
  // Still running, it is terminated and must end with 0; either way its
  // log and output must hold none of kProxySecrets.
  ~PeerServer();

  // Running with its listener up (or started, without wait_ready).
  bool ok() const { return failure_.empty(); }
  uint16_t port() const { return port_; }
  // The AppPort written into vane.ini before the start.
  uint16_t configured_port() const { return configured_port_; }
  int pid() const { return process_ ? process_->pid() : -1; }
  const std::filesystem::path& work() const { return work_; }
  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& doc() const { return doc_; }
  const std::filesystem::path& session() const { return session_; }
  // With with_broker: the broker it logs in to.
  QvBrokerFixture* broker() const { return broker_.get(); }

  // Another copy in the same working and session directories; its exit
  // status, or none when it did not end within timeout.
  std::optional<int> RunSecondCopy(const std::vector<std::string>& args,
                                   std::chrono::milliseconds timeout);

  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  // SIGTERM, once the threads of past connections have ended (bounded);
  // the exit status (128+signal when it had to be killed).
  int Terminate();
  // Sends signal and returns at once (WaitExit waits for the end).
  void Signal(int signal);

  // What the program wrote to stdout and stderr (sanitizer reports).
  std::string Output() const;
  // The debug log; after shutdown it has been moved to QvDebuglog.bak.
  std::string Log() const;
  std::string Setting(const std::string& key) const;
  // Live threads and open descriptors of the process (/proc), -1 when gone.
  long ThreadCount() const;
  long DescriptorCount() const;
  // The files the process has mapped now (/proc), one per line.
  std::string Maps() const;

 private:
  // env runs it in the working directory with its session directory.
  std::vector<std::string> EnvArgs(const std::vector<std::string>& args) const;
  std::string Program() const;
  void WaitForIdleThreads() const;

  PeerServerOptions options_;
  std::filesystem::path work_, doc_, root_, session_;
  std::unique_ptr<QvBrokerFixture> broker_;
  uint16_t port_ = 0;
  uint16_t configured_port_ = 0;
  long idle_threads_ = -1;  // when the listener came up
};
