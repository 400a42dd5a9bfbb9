// Wall-clock and tick time.
#pragma once

#include <cstdint>

namespace platform {

struct LocalTime {
  int year;    // four digits
  int month;   // 1-12
  int day;     // 1-31
  int hour;    // 0-23
  int minute;  // 0-59
  int second;  // 0-60
};

LocalTime Now();

// Milliseconds from a monotonic clock, wrapping at 2^32 like the tick count
// the system was designed around. Compare ticks by unsigned subtraction.
uint32_t TickCount();

void SleepMs(uint32_t milliseconds);

}  // namespace platform
