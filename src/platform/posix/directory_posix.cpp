#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

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

int MakePrivateDirectories(const std::string& path) {
  if (path.empty()) return ENOENT;
  // Each folder from the top: the ones there stay as they are.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno;
  return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

int PointLinkAt(const std::string& link, const std::string& target) {
  struct stat info {};
  if (::lstat(link.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) return EEXIST;
    char text[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), text, sizeof text);
    if (n >= 0 && std::string_view(text, static_cast<size_t>(n)) == target) return 0;
  } else if (errno != ENOENT) {
    return errno;
  }
  // A new link beside it, renamed over the old one: never a moment without.
  const std::string fresh = link + ".new-" + std::to_string(::getpid());
  ::unlink(fresh.c_str());
  if (::symlink(target.c_str(), fresh.c_str()) != 0) return errno;
  if (::rename(fresh.c_str(), link.c_str()) != 0) {
    const int error = errno;
    ::unlink(fresh.c_str());
    return error;
  }
  return 0;
}

}  // namespace platform
