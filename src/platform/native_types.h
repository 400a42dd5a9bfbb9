// The few types whose width or kind differs between platforms. This is the
// only header with a platform #if; everything else uses these names.
#pragma once

#include <cstdint>

#if defined(_WIN32)
// No <windows.h> here: its macros (PostMessage, CreateEvent, min, ERROR...)
// would reach every file of the portable code through this header.
namespace platform {
using SocketDescriptor = uintptr_t;  // SOCKET
// The process-wide lock handed to modules: storage for a CRITICAL_SECTION
// (six machine words), which the backend checks at compile time.
struct ProcessLock {
  alignas(void*) unsigned char storage[6 * sizeof(void*)];
};
inline constexpr SocketDescriptor kInvalidSocket = ~uintptr_t{0};  // INVALID_SOCKET
}  // namespace platform
#else
#include <pthread.h>
namespace platform {
using SocketDescriptor = int;
// The process-wide lock handed to modules: a recursive mutex they can lock
// through the C ABI.
using ProcessLock = pthread_mutex_t;
inline constexpr SocketDescriptor kInvalidSocket = -1;
}  // namespace platform
#endif
