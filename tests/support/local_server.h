// One local web server in this process for the checks only a caller in
// the same process can make (module use counts, the main window's posts),
// as StartHTTP runs once per process. Started on first use on a free port,
// in a temporary directory that lives until the process ends: work/ is the
// working directory (vane.ini, the log), root/ the web root holding the
// echo, throwing and slow test modules. The device is online, so module
// requests reach their modules. Files and answers on the wire are checked
// against the real program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

class QvDevice;

class LocalServer {
 public:
  // Starts it on first use, and makes work/ current again; ok() tells
  // whether it runs.
  static LocalServer& Instance();

  bool ok() const { return port_ != 0; }
  const std::string& failure() const { return failure_; }
  uint16_t port() const { return port_; }
  // The module entry's use count, -1 when it is not listed.
  int UseCount(const char* module) const;

 private:
  LocalServer();
  bool Start();

  std::filesystem::path dir_, work_, root_;
  QvDevice* device_ = nullptr;  // lives as long as the process: threads use it
  uint16_t port_ = 0;
  std::string failure_;
};
