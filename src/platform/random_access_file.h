// A file read and written at given offsets, for fixed-record files that
// several components keep open at once. Opening never follows a symbolic
// link planted in the file's place and never hands the descriptor to a
// started program; a file it creates is readable and writable by its owner
// only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sys_result.h"

namespace platform {

class RandomAccessFile {
 public:
  RandomAccessFile() = default;
  RandomAccessFile(RandomAccessFile&& other) noexcept;
  RandomAccessFile& operator=(RandomAccessFile&& other) noexcept;
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;
  ~RandomAccessFile();

  // Opens a regular file for reading and writing, creating it when missing.
  // Anything but a regular file (a link, a directory, a pipe) is refused.
  static SysResult<RandomAccessFile> OpenOrCreate(const std::string& path);
  // The same for a file that must exist already.
  static SysResult<RandomAccessFile> OpenExisting(const std::string& path);

  bool is_open() const { return fd_ >= 0; }
  // Reads until size bytes or the end of the file; the count read.
  SysResult<int64_t> ReadAt(int64_t offset, void* buffer, int64_t size);
  // Writes all size bytes at offset, or fails.
  SysResult<bool> WriteAt(int64_t offset, const void* data, int64_t size);
  SysResult<int64_t> Size() const;
  void Close();

 private:
  explicit RandomAccessFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Copies the regular file at from to to, byte for byte in bounded pieces,
// owner-only; to is replaced in one step, so it is a whole copy or absent.
// Never follows a link at from. Holes of a sparse file stay holes where the
// system can tell them. 0 or the error number.
int CopyFileReplacing(const std::string& from, const std::string& to);

}  // namespace platform
