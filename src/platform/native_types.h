// The few types whose width or kind differs between platforms. This is the
// only header with a platform #if; everything else uses these names.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
namespace platform {
using SocketDescriptor = SOCKET;
using ProcessLock = CRITICAL_SECTION;
inline constexpr SocketDescriptor kInvalidSocket = INVALID_SOCKET;
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
