#include "session/device_messages.h"

#include "common/log.h"

int iDeviceMessageHandler(const char* type, const char*, int) {
  QvLog::GetInstance()->WriteString("iDeviceMessageHandler: not handled", type, 3);
  return 0;
}

void ResumeXfer() {}
