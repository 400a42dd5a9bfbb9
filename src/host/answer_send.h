// Sending an answer on a request's socket, for the module host and the file
// server alike: a peer that takes no byte for kSendStallMs loses its answer,
// and every send leaves the same log lines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/request_record.h"

// A peer that acknowledges no byte for this long loses its answer.
inline constexpr uint32_t kSendStallMs = 30000;

// Sends all of data on the request's socket: 1, or 0 on a socket error.
int SendBuffer(tagREQUEST* request, const char* data, size_t length);
// The same, telling the socket whether more bytes follow at once.
int SendPart(tagREQUEST* request, const char* data, size_t length, bool more_follows);
// The log lines after a send, whichever way the bytes went: 1 when all went.
int ReportSend(tagREQUEST* request, int error, long sent);
