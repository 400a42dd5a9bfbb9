// tagREQUEST: the request record. The server fills one per connection and
// hands it to every module call; a device message's module call gets one
// without a socket. Outbound requests read it too (the socket handed back
// to a module, the file to upload), which is why it lives this low.
//
// Host and modules are built apart and exchange it by pointer, so field
// order and widths are fixed; pointers and handles take the platform's width.
#pragma once

#include <cstdint>

#include "platform/native_types.h"

class QvDevice;

// One browser request (or one device-message call, which has no socket).
// Owned by the host thread that serves it. A module may read every field,
// may set dwBytesSent and szUploadFile, and may send on hSocket itself.
struct tagREQUEST {
  void* hStopEvent;                    // the server's stop event
  platform::SocketDescriptor hSocket;  // 0 in a message call
  char* szMethod;                      // the method token, in the receive buffer
  uint32_t dwStartTick;                // tick count at acceptance
  uint32_t dwBytesReceived;
  uint32_t dwBytesSent;                // a module's non-zero value is its answer's length
  void* hFile;                         // the file being served
  char* szQueryString;                 // the text after the first '?', or null
  char szEnvBlock[4096];               // "QUERY_STRING=<query>\0\0"
  char szFilePath[260];                // web root plus request path
  char szUri[260];                     // request path without its leading '/'
  QvDevice* pDevice;                   // the host's device, set before each module call
  char* szUploadFile;                  // a file for ConnectRequest to upload
  char szRemoteAddr[16];               // the caller's dotted IPv4 address
  void* hWndOwner;                     // the host's main window
  platform::ProcessLock* pLock;        // guards the record files
};
using REQUEST = tagREQUEST;
using LPREQUEST = tagREQUEST*;
