#include <windows.h>

#include "platform/named_mutex.h"

namespace platform {

// A named mutex of the session (CreateMutex): recursive for its owner
// thread and exclusive between threads and processes by itself.
NamedMutex::NamedMutex(const std::string& name)
    : shared_(name + ".lock"), native_(::CreateMutexA(nullptr, FALSE, name.c_str())) {}

NamedMutex::~NamedMutex() {
  if (native_ != nullptr) ::CloseHandle(static_cast<HANDLE>(native_));
}

WaitResult NamedMutex::Lock(uint32_t timeout_ms) {
  if (native_ == nullptr) return WaitResult::kFailed;
  switch (::WaitForSingleObject(static_cast<HANDLE>(native_), timeout_ms)) {
    case WAIT_OBJECT_0:
      return WaitResult::kAcquired;
    case WAIT_ABANDONED:
      return WaitResult::kAbandoned;  // ours now; its last owner ended holding it
    case WAIT_TIMEOUT:
      return WaitResult::kTimeout;
    default:
      return WaitResult::kFailed;
  }
}

bool NamedMutex::Unlock() {
  return native_ != nullptr && ::ReleaseMutex(static_cast<HANDLE>(native_)) != 0;
}

}  // namespace platform
