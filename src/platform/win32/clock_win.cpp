#include <windows.h>

#include "platform/clock.h"

namespace platform {

LocalTime Now() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

uint32_t TickCount() { return ::GetTickCount(); }

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
