#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/file.h"
#include "platform/socket.h"
#include "platform/win32/win_files.h"

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
  ShareOpen how = ShareOpen::kRead;
  if (mode == OpenMode::kAppend) how = ShareOpen::kAppend;
  if (mode == OpenMode::kTruncate) how = ShareOpen::kTruncate;
  if (mode == OpenMode::kCreateNew) how = ShareOpen::kCreateNew;
  int fd = OpenShared(path, how);
  if (fd < 0) return {File(), -fd};
  return {File(fd), 0};
}

SysResult<bool> File::Write(std::string_view data) {
  while (!data.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
    if (!::WriteFile(HandleOf(fd_), data.data(), chunk, &written, nullptr)) {
      return {false, ErrnoFromWin32(::GetLastError())};
    }
    data.remove_prefix(written);
  }
  return {true, 0};
}

SysResult<int64_t> File::Read(char* buffer, int64_t size) {
  DWORD got = 0;
  const DWORD wanted = static_cast<DWORD>(std::min<int64_t>(size, 1 << 30));
  if (!::ReadFile(HandleOf(fd_), buffer, wanted, &got, nullptr)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return {0, 0};
    return {-1, ErrnoFromWin32(error)};
  }
  return {static_cast<int64_t>(got), 0};
}

FileSendResult File::SendTo(SocketDescriptor socket, uint64_t count, uint32_t stall_ms) {
  FileSendResult result;
  std::string chunk(64 * 1024, '\0');
  while (result.sent < count) {
    const int64_t wanted =
        static_cast<int64_t>(std::min<uint64_t>(count - result.sent, chunk.size()));
    auto [got, read_error] = Read(chunk.data(), wanted);
    if (read_error != 0) {
      result.error = read_error;
      result.file_failed = true;
      break;
    }
    if (got == 0) break;  // the end of the file
    auto [sent, send_error] = platform::Send(
        socket, std::string_view(chunk.data(), static_cast<size_t>(got)), false, stall_ms);
    result.sent += static_cast<uint64_t>(sent);
    if (send_error != 0) {
      result.error = send_error;
      break;
    }
  }
  return result;
}

SysResult<uint64_t> File::Size() const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(HandleOf(fd_), &info)) {
    return {0, ErrnoFromWin32(::GetLastError())};
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {0, EISDIR};
  return {(static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow, 0};
}

void File::Close() {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = -1;
}

std::optional<uint64_t> FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<uint64_t> RegularFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    return std::nullopt;
  }
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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
  if (::DeleteFileA(path.c_str())) return 0;
  DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
  return ErrnoFromWin32(error);
}

int RenameFile(const std::string& from, const std::string& to) { return MoveReplacing(from, to); }

// Access is the folder's inherited list, the user's own in the program's
// folder: there are no modes for others to take away.
SysResult<bool> RestrictToOwner(const std::string& /*path*/) { return {false, 0}; }

// Windows keeps no POSIX modes: a new file gets the folder's inherited
// access, which is the user's own in the program's folder.
int ReplaceFileAtomically(const std::string& path, std::string_view content,
                          NewFileAccess /*access*/) {
  std::string temp;
  int fd = CreateTemporaryBeside(path, &temp);
  if (fd < 0) return -fd;
  int error = 0;
  while (error == 0 && !content.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1u << 30));
    if (!::WriteFile(HandleOf(fd), content.data(), chunk, &written, nullptr)) {
      error = ErrnoFromWin32(::GetLastError());
    }
    content.remove_prefix(written);
  }
  // Flushed before the rename, so a crash leaves the old or the new file.
  if (error == 0 && !::FlushFileBuffers(HandleOf(fd))) error = ErrnoFromWin32(::GetLastError());
  ::_close(fd);
  if (error == 0) error = MoveReplacing(temp, path);
  if (error != 0) ::DeleteFileA(temp.c_str());
  return error;
}

std::string ErrorText(int error) {
  // Winsock's numbers start at 10000; the system has their texts.
  if (error >= 10000) {
    char buffer[256] = "";
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == '.')) {
      buffer[--n] = '\0';
    }
    if (n > 0) return std::string(buffer, n);
    return "Winsock error " + std::to_string(error);
  }
  char buffer[256] = "";
  if (::strerror_s(buffer, sizeof buffer, error) != 0) return "error " + std::to_string(error);
  return buffer;
}

}  // namespace platform
