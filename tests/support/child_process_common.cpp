// The parts of the child-process helpers that need nothing of the OS
// beyond the platform layer: the same on Linux and on Windows.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "platform/socket.h"
#include "support/child_process.h"

namespace fs = std::filesystem;

int RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               std::string* output) {
  if (argv.empty()) return -1;
  std::error_code error;
  const fs::path path = fs::temp_directory_path(error) /
                        ("qvcmd-" + std::to_string(std::random_device{}()) + ".out");
  if (error) return -1;
  int result = -1;
  {
    std::vector<std::string> args(argv.begin() + 1, argv.end());
    std::unique_ptr<ChildProcess> child = ChildProcess::Start(argv[0], args, path);
    if (child) {
      std::optional<int> status = child->WaitFor(timeout);
      result = status.value_or(-1);
      if (!status) child->Stop(std::chrono::milliseconds(100));
    }
  }
  if (output != nullptr) {
    output->clear();
    if (FILE* file = std::fopen(path.string().c_str(), "rb")) {
      char chunk[4096];
      size_t n;
      while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) output->append(chunk, n);
      std::fclose(file);
    }
  }
  fs::remove(path, error);
  return result;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

uint16_t FreeLoopbackPort() {
  auto socket = platform::CreateTcpSocket();
  if (!socket.ok()) return 0;
  uint16_t port = 0;
  if (platform::BindLoopback(socket.value, 0) == 0) {
    auto local = platform::LocalPort(socket.value);
    if (local.ok()) port = local.value;
  }
  platform::CloseSocket(socket.value);
  return port;
}

bool LoopbackPortAccepts(uint16_t port) {
  auto socket = platform::CreateTcpSocket();
  if (!socket.ok()) return false;
  bool ok = platform::ConnectLoopback(socket.value, port) == 0;
  platform::CloseSocket(socket.value);
  return ok;
}
