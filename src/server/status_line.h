// The answers the server writes itself when a request fails.
#pragma once

#include "module/QvPeerModule.h"

inline constexpr int kStatusLineCount = 15;

// "200 OK" ... "503 Service Unavailable", indexed from 0; null above 14.
const char* StatusLine(int index);

// Sends "HTTP/1.0 <status>", a text/html content type, an empty line and the
// body "<body><h1><status></h1></body>"; nothing for an index above 14.
void SendErrorBody(tagREQUEST* request, int index);

// The body alone, for an answer whose status line is already out (a read
// error in the middle of a file).
void AppendErrorBody(tagREQUEST* request, int index);
