#include <windows.h>

#include <cerrno>

#include "platform/directory.h"

namespace platform {
namespace {

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_DIRECTORY:
      return ENOTDIR;

    default:
      return EINVAL;
  }
}

}  // namespace

int ChangeDirectory(const std::string& path) {
  return ::SetCurrentDirectoryA(path.c_str()) ? 0 : ErrnoOf(::GetLastError());
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD n = ::GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

std::string AbsolutePath(const std::string& path) {
  char buffer[MAX_PATH + 1];
  DWORD n = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (n == 0 || n >= sizeof buffer) return path;
  return std::string(buffer, n);
}

int CheckReadableDirectory(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoOf(::GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
  // Listing it is what the server does; a folder it cannot list is refused.
  WIN32_FIND_DATAA entry;
  HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return ErrnoOf(::GetLastError());
  ::FindClose(search);
  return 0;
}

// The Windows program keeps its state in its own folder: it makes no
// account folder and links nothing.
int MakePrivateDirectories(const std::string&) { return ENOSYS; }
int PointLinkAt(const std::string&, const std::string&) { return ENOSYS; }

}  // namespace platform
