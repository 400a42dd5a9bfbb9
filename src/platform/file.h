// Files, opened so that other threads and processes may read, write, rename
// and delete them meanwhile (the default on POSIX; share flags on Windows).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/native_types.h"
#include "platform/sys_result.h"

namespace platform {

// What File::SendTo managed.
struct FileSendResult {
  uint64_t sent = 0;
  int error = 0;             // 0, or why it stopped short
  bool file_failed = false;  // reading the file failed, not the connection
};

// The writing modes never follow a symbolic link at the path (the open
// fails), so nobody who can write the directory can make the program write
// through a link planted there; a file they create is the owner's alone.
enum class OpenMode {
  kRead,      // existing file, read only
  kAppend,    // write at the end, created when missing
  kTruncate,  // write from an empty file, created when missing
  kCreateNew,  // write a file made now, owner only; fails when the name exists
};

// Who may read a file that a replacement creates.
enum class NewFileAccess {
  kReadableByAll,  // pages and scripts other programs read
  kOwnerOnly,      // secrets: settings, keys
};

// An open file; closes itself. Paths are native (see path.h).
class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  static SysResult<File> Open(const std::string& path, OpenMode mode);

  bool is_open() const { return fd_ >= 0; }
  // Writes all of data in one call where the OS allows, so that appends by
  // several writers under one lock never interleave.
  SysResult<bool> Write(std::string_view data);
  SysResult<int64_t> Read(char* buffer, int64_t size);
  // Sends up to count bytes from the file's position to a connected socket.
  // The bytes pass inside the system, never through a buffer of the program,
  // so memory stays small whatever the size. Stops early at the end of the
  // file. Broken connections must not raise signals (IgnoreBrokenPipes).
  // With stall_ms, gives up (error EAGAIN) once the peer has acknowledged
  // no byte for that long, however slowly the system still takes bytes;
  // the socket blocks again afterwards, as connections do.
  FileSendResult SendTo(SocketDescriptor socket, uint64_t count, uint32_t stall_ms = 0);
  // The size of an open regular file; EISDIR-like errors for anything else.
  SysResult<uint64_t> Size() const;
  void Close();

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

std::optional<uint64_t> FileSize(const std::string& path);
// The size of the regular file at path itself: none for a link (never
// followed), a folder or anything else, or when it cannot be examined.
std::optional<uint64_t> RegularFileSize(const std::string& path);
bool FileExists(const std::string& path);
std::optional<std::string> ReadWholeFile(const std::string& path);

// 0 or the error number; a missing file is no error for RemoveFile.
int RemoveFile(const std::string& path);
int RenameFile(const std::string& from, const std::string& to);

// Replaces the file's content in one step: readers see the old or the new
// content, never a mix. Keeps an existing file's permissions; a new one gets
// access. A link at path is replaced, never followed. 0 or the error number.
int ReplaceFileAtomically(const std::string& path, std::string_view content,
                          NewFileAccess access = NewFileAccess::kReadableByAll);

// Makes the regular file at path readable and writable by its owner alone
// when others may read or write it; true when it did. A link at path is
// not followed. Nothing to do where the system keeps no such modes.
SysResult<bool> RestrictToOwner(const std::string& path);

// The system's text for an error number.
std::string ErrorText(int error);

}  // namespace platform
