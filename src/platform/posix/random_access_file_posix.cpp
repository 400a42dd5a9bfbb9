#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/regular_open.h"
#include "platform/random_access_file.h"

namespace platform {

RandomAccessFile::RandomAccessFile(RandomAccessFile&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

RandomAccessFile& RandomAccessFile::operator=(RandomAccessFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

RandomAccessFile::~RandomAccessFile() { Close(); }

namespace {

int OpenRegular(const std::string& path, int flags) {
  return OpenRegularFile(path, flags | O_NOFOLLOW);
}

}  // namespace

SysResult<RandomAccessFile> RandomAccessFile::OpenOrCreate(const std::string& path) {
  int fd = OpenRegular(path, O_RDWR | O_CREAT);
  if (fd < 0) return {RandomAccessFile(), -fd};
  return {RandomAccessFile(fd), 0};
}

SysResult<RandomAccessFile> RandomAccessFile::OpenExisting(const std::string& path) {
  int fd = OpenRegular(path, O_RDWR);
  if (fd < 0) return {RandomAccessFile(), -fd};
  return {RandomAccessFile(fd), 0};
}

SysResult<int64_t> RandomAccessFile::ReadAt(int64_t offset, void* buffer, int64_t size) {
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(size - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {done, errno};
    }
    if (n == 0) break;
    done += n;
  }
  return {done, 0};
}

SysResult<bool> RandomAccessFile::WriteAt(int64_t offset, const void* data, int64_t size) {
  const char* in = static_cast<const char*>(data);
  int64_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd_, in + done, static_cast<size_t>(size - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {false, errno};
    }
    done += n;
  }
  return {true, 0};
}

SysResult<int64_t> RandomAccessFile::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return {0, errno};
  return {static_cast<int64_t>(st.st_size), 0};
}

void RandomAccessFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

// Copies the bytes from offset to end of in to the same offsets of out.
int CopyRange(int in, int out, off_t offset, off_t end) {
  char chunk[65536];
  while (offset < end) {
    const size_t want = static_cast<size_t>(std::min<off_t>(end - offset, sizeof chunk));
    ssize_t n = ::pread(in, chunk, want, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    for (ssize_t written = 0; written < n;) {
      ssize_t w = ::pwrite(out, chunk + written, static_cast<size_t>(n - written), offset + written);
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      written += w;
    }
    offset += n;
  }
  return 0;
}

// The holes of a sparse file stay holes in the copy: such a file may claim
// terabytes that it never wrote, and they must not land on the disk.
int CopyData(int in, int out) {
  struct stat st {};
  if (::fstat(in, &st) != 0) return errno;
  const off_t size = st.st_size;
  for (off_t at = 0; at < size;) {
    off_t start = ::lseek(in, at, SEEK_DATA);
    if (start < 0 && errno == ENXIO) break;  // nothing but a hole to the end
    off_t end = start < 0 ? size : ::lseek(in, start, SEEK_HOLE);
    if (start < 0) start = at;  // a file system that cannot tell: all data
    if (end < 0 || end > size) end = size;
    if (int error = CopyRange(in, out, start, end); error != 0) return error;
    at = end;
  }
  return ::ftruncate(out, size) == 0 ? 0 : errno;
}

}  // namespace

int CopyFileReplacing(const std::string& from, const std::string& to) {
  int in = OpenRegular(from, O_RDONLY);
  if (in < 0) return -in;
  std::string temp = to + ".XXXXXX";
  int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    int error = errno;
    ::close(in);
    return error;
  }
  int error = CopyData(in, out);
  ::close(in);
  if (error == 0 && ::fdatasync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), to.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

}  // namespace platform
