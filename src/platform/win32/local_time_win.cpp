#include <time.h>

#include "platform/local_time.h"

namespace platform {

bool ToLocalTime(int64_t seconds, std::tm* out) {
  __time64_t t = seconds;
  return out != nullptr && ::_localtime64_s(out, &t) == 0;
}

}  // namespace platform
