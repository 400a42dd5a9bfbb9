// The process's current directory, which every relative path of the system
// (settings, logs, web root) follows, and the folders and links the program
// makes for an account's state.
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

// Makes the folder and any missing folder above it, each readable by its
// owner alone. 0 when path is a directory now, made or already there (its
// mode then stays as it is), else the error number.
int MakePrivateDirectories(const std::string& path);

// Makes link a symbolic link whose text is target. A link with another text
// is replaced in one step; anything else at that name is left alone
// (EEXIST). 0 or the error number (ENOSYS where the program keeps no links).
int PointLinkAt(const std::string& link, const std::string& target);

}  // namespace platform
