// File requests: who asks and what is asked for are checked against the
// device's allowed hosts and files, then the file is streamed in 8192-byte
// blocks after an HTTP/1.0 status line and headers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/QvPeerModule.h"

void SendFile(tagREQUEST* request);

// The host test of file requests, with its log lines: the caller's address
// must be one of the allowed hosts (with local_browser_too, 127.0.0.1 is
// always admitted). Loads the device configuration when needed.
bool IsCallerAdmitted(tagREQUEST* request, bool local_browser_too);

// A peer that acknowledges no byte for this long loses its answer.
inline constexpr uint32_t kSendStallMs = 30000;

// Sends all of data on the request's socket: 1, or 0 on a socket error.
int SendBuffer(tagREQUEST* request, const char* data, size_t length);
