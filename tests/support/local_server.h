// One local web server for the whole test process, as StartHTTP runs once
// per process. Started on first use on a port that was free a moment
// before, in a temporary directory that lives until the process ends:
//   work/  the working directory: vane.ini, the logs, vclient\port.htx
//   doc/   where the port file "..\doc\port.js" goes
//   root/  the web root: pages, an empty and a large file, a file no
//          pattern admits, and the test modules under listed names
// The device is loaded from work/vane.ini and online; the module list names the test
// modules, and copies of the echo module stand in for the transfer and
// share modules.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

class QvDevice;

class LocalServer {
 public:
  static constexpr char kDefaultPage[] = "http://localhost:81/vclient/index.html";

  // Starts it on first use; ok() tells whether it runs.
  static LocalServer& Instance();

  bool ok() const { return port_ != 0; }
  const std::string& failure() const { return failure_; }
  // The port it serves on (its AppPort setting) and the one it was given.
  uint16_t port() const { return port_; }
  uint16_t configured_port() const { return configured_port_; }
  const std::filesystem::path& work() const { return work_; }
  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& doc() const { return doc_; }
  QvDevice& device() const { return *device_; }
  // The bytes of root/big.bin, a file of several 8192-byte blocks.
  const std::string& big_file() const { return big_file_; }

  // The module entry's use count, -1 when it is not listed.
  int UseCount(const char* module) const;
  // Makes work/ current again: the log and settings live there.
  void EnterWorkDir() const;

 private:
  LocalServer();
  bool Start();

  std::filesystem::path dir_, work_, doc_, root_;
  QvDevice* device_ = nullptr;  // lives as long as the process: threads use it
  uint16_t port_ = 0;
  uint16_t configured_port_ = 0;
  std::string big_file_;
  std::string failure_;
};
