#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/random_access_file.h"
#include "platform/win32/win_files.h"

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

// Only regular files: a directory or a device in the file's place is refused
// (OpenShared).
int OpenRegular(const std::string& path, bool create) {
  if (!create && ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return -ErrnoFromWin32(::GetLastError());
  }
  return OpenShared(path, ShareOpen::kReadWrite);
}

OVERLAPPED At(int64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return position;
}

}  // namespace

SysResult<RandomAccessFile> RandomAccessFile::OpenOrCreate(const std::string& path) {
  int fd = OpenRegular(path, true);
  if (fd < 0) return {RandomAccessFile(), -fd};
  return {RandomAccessFile(fd), 0};
}

SysResult<RandomAccessFile> RandomAccessFile::OpenExisting(const std::string& path) {
  int fd = OpenRegular(path, false);
  if (fd < 0) return {RandomAccessFile(), -fd};
  return {RandomAccessFile(fd), 0};
}

SysResult<int64_t> RandomAccessFile::ReadAt(int64_t offset, void* buffer, int64_t size) {
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < size) {
    OVERLAPPED position = At(offset + done);
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<int64_t>(size - done, 1 << 30));
    if (!::ReadFile(HandleOf(fd_), out + done, wanted, &got, &position)) {
      DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      return {done, ErrnoFromWin32(error)};
    }
    if (got == 0) break;
    done += got;
  }
  return {done, 0};
}

SysResult<bool> RandomAccessFile::WriteAt(int64_t offset, const void* data, int64_t size) {
  const char* in = static_cast<const char*>(data);
  int64_t done = 0;
  while (done < size) {
    OVERLAPPED position = At(offset + done);
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(size - done, 1 << 30));
    if (!::WriteFile(HandleOf(fd_), in + done, chunk, &written, &position)) {
      return {false, ErrnoFromWin32(::GetLastError())};
    }
    done += written;
  }
  return {true, 0};
}

SysResult<int64_t> RandomAccessFile::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(HandleOf(fd_), &size)) return {0, ErrnoFromWin32(::GetLastError())};
  return {static_cast<int64_t>(size.QuadPart), 0};
}

void RandomAccessFile::Close() {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = -1;
}

int CopyFileReplacing(const std::string& from, const std::string& to) {
  DWORD attributes = ::GetFileAttributesA(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoFromWin32(::GetLastError());
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return EINVAL;
  int in = OpenShared(from, ShareOpen::kRead);
  if (in < 0) return -in;
  std::string temp;
  int out = CreateTemporaryBeside(to, &temp);
  if (out < 0) {
    ::_close(in);
    return -out;
  }
  int error = 0;
  char chunk[65536];
  while (error == 0) {
    DWORD got = 0;
    if (!::ReadFile(HandleOf(in), chunk, sizeof chunk, &got, nullptr)) {
      error = ErrnoFromWin32(::GetLastError());
      break;
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!::WriteFile(HandleOf(out), chunk, got, &written, nullptr) || written != got) {
      error = ErrnoFromWin32(::GetLastError());
    }
  }
  ::_close(in);
  if (error == 0 && !::FlushFileBuffers(HandleOf(out))) error = ErrnoFromWin32(::GetLastError());
  ::_close(out);
  if (error == 0) error = MoveReplacing(temp, to);
  if (error != 0) ::DeleteFileA(temp.c_str());
  return error;
}

}  // namespace platform
