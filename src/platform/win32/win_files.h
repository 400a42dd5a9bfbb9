// What the Windows file code shares: error numbers in the C runtime's errno
// terms (the portable code and its tests speak errno), and files opened with
// every share flag, so that others may read, write, rename and delete them
// meanwhile, as on POSIX.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

int ErrnoFromWin32(DWORD error);

enum class ShareOpen { kRead, kReadWrite, kAppend, kTruncate, kCreateNew };

// A C runtime descriptor owning the handle (close it with _close), or -errno.
// Writing opens refuse a reparse point (a link) at the path.
int OpenShared(const std::string& path, ShareOpen how);

HANDLE HandleOf(int descriptor);

// Replaces to with from in one step (the system's rename over an existing
// file). 0 or errno.
int MoveReplacing(const std::string& from, const std::string& to);

// A fresh, exclusively created file beside path; its name in *temp.
int CreateTemporaryBeside(const std::string& path, std::string* temp);

}  // namespace platform
