#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/clock.h"
#include "platform/file_lock.h"
#include "platform/posix/regular_open.h"

namespace platform {

FileLock::~FileLock() { Unlock(); }

bool FileLock::LockFor(uint32_t timeout_ms) {
  if (fd_ >= 0) return true;
  int fd = OpenRegularFile(path_, O_RDWR | O_CREAT | O_NOFOLLOW);
  if (fd < 0) return false;
  // flock has no timed form: poll, backing off up to 8 ms. Contention between
  // processes is rare and short (one log line, one settings write).
  const uint32_t start = TickCount();
  uint32_t pause = 1;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    uint32_t waited = TickCount() - start;
    if (waited >= timeout_ms) break;
    SleepMs(std::min(pause, timeout_ms - waited));
    pause = std::min<uint32_t>(pause * 2, 8);
  }
  ::close(fd);
  return false;
}

void FileLock::Unlock() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
