#include <limits.h>
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

}  // namespace platform
