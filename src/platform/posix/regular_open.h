// Opening a name that must hold a regular file: without blocking (a pipe in
// its place would block the open until someone writes to it), and kept only
// when it is a regular file. A pipe, device or socket there is refused with
// EINVAL and told (refused_file.h); a folder is refused with EISDIR, as a
// request for one is no planted trap. The descriptor blocks again after.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

// The descriptor, or -errno.
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0600);

}  // namespace platform
