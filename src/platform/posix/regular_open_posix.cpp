#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/regular_open.h"
#include "platform/refused_file.h"

namespace platform {

int OpenRegularFile(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // Only a pipe without a reader or a socket answers a writing open so.
    if (errno != ENXIO) return -errno;
    TellRefusedFile(path);
    return -EINVAL;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) return -EISDIR;
    TellRefusedFile(path);
    return -EINVAL;
  }
  // The status flags the caller asked for, without O_NONBLOCK.
  ::fcntl(fd, F_SETFL, flags & O_APPEND);
  return fd;
}

}  // namespace platform
