#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_info.h"
#include "platform/posix/regular_open.h"

namespace platform {

SysResult<FileInfo> StatFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {FileInfo{0, 0}, errno};
  return {FileInfo{static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtime)}, 0};
}

SysResult<int> OpenDescriptor(const std::string& path) {
  int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return {-1, -fd};
  return {fd, 0};
}

void CloseDescriptor(int descriptor) {
  if (descriptor >= 0) ::close(descriptor);
}

SysResult<int64_t> DescriptorSize(int descriptor) {
  struct stat st {};
  if (::fstat(descriptor, &st) != 0) return {-1, errno};
  return {static_cast<int64_t>(st.st_size), 0};
}

}  // namespace platform
