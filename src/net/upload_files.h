// The file body of one upload: one named file, or for "_Yx_Logs.log" the
// debug-log set. Every file is opened and measured before the POST header
// is written, and exactly the measured bytes are sent, so the declared
// Content-Length always matches the body even while a log file grows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/native_types.h"

inline constexpr std::string_view kDebugLogSetName = "_Yx_Logs.log";

class UploadFiles {
 public:
  // name is the decoded file name (backslash paths allowed). The debug-log
  // set skips files that cannot be opened; a single file that cannot be
  // opened gives none (a negative size).
  static std::optional<UploadFiles> Open(std::string_view name);

  int64_t size() const { return size_; }
  // Sends size() bytes in chunks of at most buffer_size, binary. A file
  // that shrank meanwhile is made up with line feeds. False when a send
  // failed.
  bool SendTo(platform::SocketDescriptor socket, char* buffer, size_t buffer_size);
  // The same through write (a TLS connection's), which says whether all went.
  bool SendThrough(const std::function<bool(std::string_view)>& write, char* buffer,
                   size_t buffer_size);

 private:
  struct Part {
    platform::File file;
    int64_t size;
  };
  std::vector<Part> parts_;
  int64_t size_ = 0;
};

// The debug-log set, in the order it is sent.
const std::vector<std::string>& DebugLogSet();
