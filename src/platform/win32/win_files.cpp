#include "platform/win32/win_files.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>

#include "platform/refused_file.h"

namespace platform {

int ErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EIO;
  }
}

int OpenShared(const std::string& path, ShareOpen how) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  int crt_flags = _O_BINARY;
  switch (how) {
    case ShareOpen::kRead:
      // Directories open too, so that Size can tell one from a file.
      flags |= FILE_FLAG_BACKUP_SEMANTICS;
      crt_flags |= _O_RDONLY;
      break;
    case ShareOpen::kReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    case ShareOpen::kAppend:
      // Append-only access: every write lands at the end, whoever else writes.
      access = FILE_APPEND_DATA | SYNCHRONIZE;
      disposition = OPEN_ALWAYS;
      crt_flags |= _O_APPEND;
      break;
    case ShareOpen::kTruncate:
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    case ShareOpen::kCreateNew:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
  }
  if (how != ShareOpen::kRead) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return -ELOOP;
    }
  }
  SECURITY_ATTRIBUTES no_inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  HANDLE handle =
      ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &no_inherit, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return -ErrnoFromWin32(::GetLastError());
  // A device or pipe answering to the name is no file of ours.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    TellRefusedFile(path);
    return -EINVAL;
  }
  if (how == ShareOpen::kTruncate && !::SetEndOfFile(handle)) {
    int error = ErrnoFromWin32(::GetLastError());
    ::CloseHandle(handle);
    return -error;
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), crt_flags);
  if (fd < 0) {
    ::CloseHandle(handle);
    return -EMFILE;
  }
  return fd;
}

HANDLE HandleOf(int descriptor) { return reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor)); }

// Windows refuses to rename over a file that a reader holds open at that
// moment, even one that shares deletion; readers hold files briefly, so the
// rename is tried again for a while instead of losing the write.
int MoveReplacing(const std::string& from, const std::string& to) {
  constexpr DWORD kRetryForMs = 5000;
  const DWORD start = ::GetTickCount();
  DWORD pause = 1;
  for (;;) {
    if (::MoveFileExA(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return 0;
    }
    const DWORD error = ::GetLastError();
    const bool busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                      error == ERROR_LOCK_VIOLATION;
    if (!busy || ::GetTickCount() - start >= kRetryForMs) return ErrnoFromWin32(error);
    ::Sleep(pause);
    pause = pause < 16 ? pause * 2 : 16;
  }
}

int CreateTemporaryBeside(const std::string& path, std::string* temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = path + "." + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(counter.fetch_add(1)) + ".tmp";
    int fd = OpenShared(*temp, ShareOpen::kCreateNew);
    if (fd != -EEXIST) return fd;
  }
  return -EEXIST;
}

}  // namespace platform
