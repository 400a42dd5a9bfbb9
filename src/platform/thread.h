// Threads as the system uses them: identity for the log, and detached
// threads with a stack of a chosen size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {

// The kernel's numeric identifier of the calling thread.
uint32_t CurrentThreadId();

// Starts body on a detached thread with a stack of stack_bytes. False when
// the thread could not be started (body is then not run).
bool StartDetachedThread(std::function<void()> body, size_t stack_bytes);

}  // namespace platform
