#include "net/upload_files.h"

#include <algorithm>
#include <cstring>

#include "platform/path.h"
#include "platform/socket.h"

const std::vector<std::string>& DebugLogSet() {
  // "QvDebuglog.bak" is the name the log rotates to.
  static const std::vector<std::string> set = {"vane.ini", "yxmeeting.log", "QvYxDebug.log",
                                               "QvDebug.log", "QvDebuglog.bak"};
  return set;
}

std::optional<UploadFiles> UploadFiles::Open(std::string_view name) {
  const bool log_set = name == kDebugLogSetName;
  const std::vector<std::string> names =
      log_set ? DebugLogSet() : std::vector<std::string>{std::string(name)};
  UploadFiles files;
  for (const std::string& file_name : names) {
    platform::SysResult<platform::File> opened =
        platform::File::Open(platform::NativePath(file_name), platform::OpenMode::kRead);
    platform::SysResult<uint64_t> size{0, 0};
    if (opened.ok()) size = opened.value.Size();
    if (!opened.ok() || !size.ok()) {
      if (log_set) continue;
      return std::nullopt;
    }
    files.size_ += static_cast<int64_t>(size.value);
    files.parts_.push_back(Part{std::move(opened.value), static_cast<int64_t>(size.value)});
  }
  return files;
}

bool UploadFiles::SendTo(platform::SocketDescriptor socket, char* buffer, size_t buffer_size) {
  return SendThrough(
      [socket](std::string_view bytes) { return platform::Send(socket, bytes).ok(); }, buffer,
      buffer_size);
}

bool UploadFiles::SendThrough(const std::function<bool(std::string_view)>& write, char* buffer,
                              size_t buffer_size) {
  for (Part& part : parts_) {
    int64_t left = part.size;
    while (left > 0) {
      const auto want =
          static_cast<int64_t>(std::min<uint64_t>(buffer_size, static_cast<uint64_t>(left)));
      platform::SysResult<int64_t> read = part.file.Read(buffer, want);
      int64_t n = read.ok() ? read.value : 0;
      if (n <= 0) {
        n = want;
        std::memset(buffer, '\n', static_cast<size_t>(n));
      }
      if (!write(std::string_view(buffer, static_cast<size_t>(n)))) return false;
      left -= n;
    }
  }
  return true;
}
