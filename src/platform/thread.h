// Thread identity as the log shows it.
#pragma once

#include <cstdint>

namespace platform {

// The kernel's numeric identifier of the calling thread.
uint32_t CurrentThreadId();

}  // namespace platform
