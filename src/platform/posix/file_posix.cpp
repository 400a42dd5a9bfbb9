#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/file.h"
#include "platform/posix/regular_open.h"
#include "platform/refused_file.h"
#include "platform/socket.h"

namespace platform {

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

File::~File() { Close(); }

SysResult<File> File::Open(const std::string& path, OpenMode mode) {
  int flags = 0;
  switch (mode) {
    case OpenMode::kRead:
      flags |= O_RDONLY;
      break;
    case OpenMode::kAppend:
      flags |= O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
      break;
    case OpenMode::kTruncate:
      flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
      break;
    case OpenMode::kCreateNew:
      flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
  }
  int fd = OpenRegularFile(path, flags);
  if (fd < 0) return {File(), -fd};
  return {File(fd), 0};
}

SysResult<bool> File::Write(std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return {false, errno};
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return {true, 0};
}

SysResult<int64_t> File::Read(char* buffer, int64_t size) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, static_cast<size_t>(size));
    if (n >= 0) return {n, 0};
    if (errno != EINTR) return {-1, errno};
  }
}

namespace {

// Errors of the reading side; everything else is the connection's.
bool IsReadError(int error) { return error == EIO || error == EISDIR || error == EINVAL; }

}  // namespace

FileSendResult File::SendTo(SocketDescriptor socket, uint64_t count, uint32_t stall_ms) {
  // One call moves at most this much (the system's cap is just under 2 GiB).
  constexpr uint64_t kMostPerCall = uint64_t{1} << 30;
  FileSendResult result;
  // Watched from the first wait on: a small file fits the send buffer at once.
  std::optional<SendProgress> progress;
  // Without blocking, so that each round can judge the peer's progress.
  // FIONBIO sets that one flag without reading the others first.
  int non_blocking = 1;
  const bool watched = stall_ms != 0 && ::ioctl(socket, FIONBIO, &non_blocking) == 0;
  while (result.sent < count) {
    const uint64_t wanted = std::min(count - result.sent, kMostPerCall);
    ssize_t n = ::sendfile(socket, fd_, nullptr, static_cast<size_t>(wanted));
    if (n > 0) {
      result.sent += static_cast<uint64_t>(n);
      if (progress) progress->Handed(static_cast<uint64_t>(n));
    } else if (n == 0) {
      break;  // the end of the file
    } else if (errno == EINTR) {
      continue;
    } else if (stall_ms == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      result.error = errno;
      result.file_failed = IsReadError(errno);
      break;
    } else {
      if (!progress) progress.emplace(socket, stall_ms);
      WaitWritable(socket, kSendProgressSliceMs);
    }
    if (progress && result.sent < count && progress->Stalled()) {
      result.error = EAGAIN;
      break;
    }
  }
  if (watched) {
    non_blocking = 0;
    ::ioctl(socket, FIONBIO, &non_blocking);
  }
  return result;
}

SysResult<uint64_t> File::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return {0, errno};
  if (!S_ISREG(st.st_mode)) return {0, S_ISDIR(st.st_mode) ? EISDIR : EINVAL};
  return {static_cast<uint64_t>(st.st_size), 0};
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::optional<uint64_t> FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

std::optional<uint64_t> RegularFileSize(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  auto [file, error] = File::Open(path, OpenMode::kRead);
  if (error != 0) return std::nullopt;
  std::string content;
  char chunk[8192];
  for (;;) {
    auto [n, read_error] = file.Read(chunk, sizeof chunk);
    if (read_error != 0) return std::nullopt;
    if (n == 0) break;
    content.append(chunk, static_cast<size_t>(n));
  }
  return content;
}

int RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return 0;
  return errno;
}

int RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int ReplaceFileAtomically(const std::string& path, std::string_view content,
                          NewFileAccess access) {
  std::string temp = path + ".XXXXXX";
  // Created owner-only and exclusively: a link planted at the name fails it.
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  const bool there = ::lstat(path.c_str(), &st) == 0;
  // A pipe or device planted at the name is no file of ours to replace.
  if (there && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode)) {
    ::close(fd);
    ::unlink(temp.c_str());
    TellRefusedFile(path);
    return EINVAL;
  }
  const mode_t fresh = access == NewFileAccess::kOwnerOnly ? 0600 : 0644;
  mode_t mode = there && S_ISREG(st.st_mode) ? (st.st_mode & 07777) : fresh;
  int error = 0;
  if (::fchmod(fd, mode) != 0) error = errno;
  while (error == 0 && !content.empty()) {
    ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    content.remove_prefix(static_cast<size_t>(n));
  }
  // Flushed before the rename, so a crash leaves the old or the new file,
  // never an empty one.
  if (error == 0 && ::fdatasync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

SysResult<bool> RestrictToOwner(const std::string& path) {
  // Without blocking: a pipe at the name is left as it is.
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {false, errno};
  struct stat st {};
  int error = ::fstat(fd, &st) != 0 ? errno : 0;
  bool changed = false;
  if (error == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
    if (::fchmod(fd, st.st_mode & 0700) == 0) {
      changed = true;
    } else {
      error = errno;
    }
  }
  ::close(fd);
  return {changed, error};
}

std::string ErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns the text, which may not be in buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace platform
