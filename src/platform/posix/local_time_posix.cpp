#include <time.h>

#include "platform/local_time.h"

namespace platform {

bool ToLocalTime(int64_t seconds, std::tm* out) {
  time_t t = static_cast<time_t>(seconds);
  return out != nullptr && ::localtime_r(&t, out) != nullptr;
}

}  // namespace platform
