// The local web server's process-wide state. Written by StartHTTP before the
// listen thread starts; read-only afterwards, except by StopHTTP.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/event.h"
#include "platform/native_types.h"

class QvDevice;

// What the caller of StartHTTP hands over.
struct ServerStartParams {
  void* hOwner = nullptr;          // the window that receives notifications
  uint32_t nNotifyMessage = 0;     // 0: notifications are dropped
  int nPort = 0;                   // the configured port (low 16 bits used)
  const char* szWebRoot = nullptr; // "/WebPages" when null or empty
  QvDevice* pDevice = nullptr;     // the process-wide device
  platform::ProcessLock* pLock = nullptr;  // handed to modules
};

struct ServerState {
  void* hOwner = nullptr;
  uint32_t nNotifyMessage = 0;
  char szWebRoot[260] = {};
  platform::SocketDescriptor hListenSocket = platform::kInvalidSocket;
  std::unique_ptr<platform::Event> hStopEvent;
  std::unique_ptr<platform::Event> hListenDone;  // set when ListenThread ends
  int nLogLevel = 0;  // captured by StartHTTP: decides the client counter
};

ServerState& TheServerState();

// Sets the web root ("/WebPages" when empty). False when it does not fit.
bool SetWebRoot(std::string_view root);
