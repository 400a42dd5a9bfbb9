// Module calls for device messages, each on a thread, but at most
// kMaxMessageCalls at once: one answer may carry thousands of messages, and
// a thread per message would run them all together. The rest wait in the
// order they came; none is dropped. Threads are started as calls arrive and
// end when no call waits.
#pragma once

#include <memory>

#include "host/module_host.h"

inline constexpr int kMaxMessageCalls = 32;

// Runs call (CallExtensionDll) as soon as fewer than kMaxMessageCalls run.
// False when no thread runs calls and none could be started: the call is
// dropped.
bool QueueExtensionCall(std::unique_ptr<ExtensionCall> call);
