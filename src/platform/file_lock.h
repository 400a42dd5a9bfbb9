// An exclusive lock between processes (and between threads: each FileLock
// holds its own lock), named by a lock file that is created when missing.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class FileLock {
 public:
  explicit FileLock(std::string path) : path_(std::move(path)) {}
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // True when the lock was taken within the time-out.
  bool LockFor(uint32_t timeout_ms);
  void Unlock();
  bool held() const { return fd_ >= 0; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace platform
