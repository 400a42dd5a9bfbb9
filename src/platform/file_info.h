// File status by path and by open descriptor, with the error number of the
// failing call. The descriptor functions exist for the module helpers whose
// interface takes a C runtime descriptor.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sys_result.h"

namespace platform {

struct FileInfo {
  int64_t size;      // bytes
  int64_t modified;  // last modification, seconds since 1970
};

// Paths are native (see path.h).
SysResult<FileInfo> StatFile(const std::string& path);

// A read-only descriptor, -1 with the error number on failure. Close it with
// CloseDescriptor.
SysResult<int> OpenDescriptor(const std::string& path);
void CloseDescriptor(int descriptor);
// The length of the file open on descriptor.
SysResult<int64_t> DescriptorSize(int descriptor);

}  // namespace platform
