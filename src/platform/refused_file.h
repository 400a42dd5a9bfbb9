// A name that holds something other than a regular file or a folder (a
// pipe, a device, a socket) is refused instead of opened for real: opening a
// pipe blocks until someone writes to it, and the agent would hang at the
// first log line. Opens never block on such a thing, and each refusal is
// told to whoever listens (the log installs itself), with the path.
#pragma once

#include <string>

namespace platform {

using RefusedFileListener = void (*)(const std::string& path);
void SetRefusedFileListener(RefusedFileListener listener);

// For the file code: tells the listener, if any.
void TellRefusedFile(const std::string& path);

}  // namespace platform
