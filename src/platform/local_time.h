// Calendar time in the local time zone, safe to call from any thread.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Breaks seconds since 1970 into local calendar fields; false when the time
// cannot be represented.
bool ToLocalTime(int64_t seconds, std::tm* out);

}  // namespace platform
