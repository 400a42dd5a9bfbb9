// File requests: who asks and what is asked for are checked against the
// device's allowed hosts and files, then the file is streamed in 8192-byte
// blocks after an HTTP/1.0 status line and headers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/QvPeerModule.h"

void SendFile(tagREQUEST* request);

// The host test of file requests, with its log lines: the caller's address
// must be one of the allowed hosts (with local_browser_too, 127.0.0.1 is
// always admitted). Loads the device configuration when needed.
bool IsCallerAdmitted(tagREQUEST* request, bool local_browser_too);
