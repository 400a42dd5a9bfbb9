// File requests: who asks and what is asked for are checked against the
// device's allowed hosts and files, then the file is streamed in 8192-byte
// blocks after an HTTP/1.0 status line and headers.
#pragma once

#include <cstddef>

#include "common/QvPeerModule.h"

void SendFile(tagREQUEST* request);

// Sends all of data on the request's socket: 1, or 0 on a socket error.
int SendBuffer(tagREQUEST* request, const char* data, size_t length);
