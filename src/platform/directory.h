// The process's current directory, which every relative path of the system
// (settings, logs, web root) follows.
#pragma once

#include <string>

namespace platform {

// 0 or the error number. The path is native (see path.h).
int ChangeDirectory(const std::string& path);

// Empty when the system cannot tell.
std::string CurrentDirectory();

}  // namespace platform
