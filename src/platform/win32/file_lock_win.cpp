#include <io.h>
#include <windows.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/file_lock.h"
#include "platform/win32/win_files.h"

namespace platform {

FileLock::~FileLock() { Unlock(); }

bool FileLock::LockFor(uint32_t timeout_ms) {
  if (fd_ >= 0) return true;
  int fd = OpenShared(path_, ShareOpen::kReadWrite);
  if (fd < 0) return false;
  // LockFileEx has no timed form: poll, backing off up to 8 ms. Contention
  // between processes is rare and short (one log line, one settings write).
  const uint32_t start = TickCount();
  uint32_t pause = 1;
  for (;;) {
    OVERLAPPED whole{};
    if (::LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &whole)) {
      fd_ = fd;
      return true;
    }
    uint32_t waited = TickCount() - start;
    if (waited >= timeout_ms) break;
    SleepMs(std::min(pause, timeout_ms - waited));
    pause = std::min<uint32_t>(pause * 2, 8);
  }
  ::_close(fd);
  return false;
}

void FileLock::Unlock() {
  if (fd_ < 0) return;
  OVERLAPPED whole{};
  ::UnlockFileEx(HandleOf(fd_), 0, 1, 0, &whole);
  ::_close(fd_);
  fd_ = -1;
}

}  // namespace platform
