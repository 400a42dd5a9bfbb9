#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/directory.h"

namespace platform {

int ChangeDirectory(const std::string& path) {
  return ::chdir(path.c_str()) == 0 ? 0 : errno;
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  return std::string(buffer);
}

std::string AbsolutePath(const std::string& path) {
  if (path.starts_with('/')) return path;
  return CurrentDirectory() + "/" + path;
}

int CheckReadableDirectory(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;
  return ::access(path.c_str(), R_OK | X_OK) == 0 ? 0 : errno;
}

}  // namespace platform
