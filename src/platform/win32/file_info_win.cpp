#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_info.h"
#include "platform/win32/win_files.h"

namespace platform {

SysResult<FileInfo> StatFile(const std::string& path) {
  struct _stat64 st {};
  if (::_stat64(path.c_str(), &st) != 0) return {FileInfo{0, 0}, errno};
  return {FileInfo{static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtime)}, 0};
}

SysResult<int> OpenDescriptor(const std::string& path) {
  int fd = OpenShared(path, ShareOpen::kRead);
  if (fd < 0) return {-1, -fd};
  return {fd, 0};
}

void CloseDescriptor(int descriptor) {
  if (descriptor >= 0) ::_close(descriptor);
}

SysResult<int64_t> DescriptorSize(int descriptor) {
  struct _stat64 st {};
  if (::_fstat64(descriptor, &st) != 0) return {-1, errno};
  return {static_cast<int64_t>(st.st_size), 0};
}

}  // namespace platform
