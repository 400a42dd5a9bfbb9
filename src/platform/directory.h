// The process's current directory, which every relative path of the system
// (settings, logs, web root) follows.
#pragma once

#include <string>

namespace platform {

// 0 or the error number. The path is native (see path.h).
int ChangeDirectory(const std::string& path);

// Empty when the system cannot tell.
std::string CurrentDirectory();
// path as a person can find it from anywhere: a relative one is taken from
// the current directory (nothing is resolved or checked).
std::string AbsolutePath(const std::string& path);

// 0 when path is a directory whose entries may be listed and read, else the
// error number (ENOTDIR for a file).
int CheckReadableDirectory(const std::string& path);

}  // namespace platform
