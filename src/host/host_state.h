// What every module call is handed besides its request: the process's
// device and the lock that guards the record files. The web server's start
// sets both; device-message calls that come before it wait for the device.
#pragma once

#include <atomic>

#include "platform/native_types.h"

class QvDevice;

struct HostState {
  std::atomic<QvDevice*> pDevice{nullptr};  // not owned
  platform::ProcessLock* pLock = nullptr;   // not owned
};

HostState& TheHostState();
