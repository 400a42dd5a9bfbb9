// Reading one request from a connection and parsing its request line into
// the connection's tagREQUEST. Only GET is understood; header lines are
// received but never interpreted, and there is no body.
#pragma once

#include <cstddef>
#include <string_view>

#include "module/QvPeerModule.h"

// What ParseRequest decided; the connection thread acts on it.
enum ParseStatus {
  kParseOk = 0,          // serve it
  kParseBadRequest = 7,  // close without an answer
  kParseNotGet = 12,     // answer with the 501 body
  kParseLongFileList = 15,  // serve it; the share module's long file list
};

inline constexpr size_t kReceiveBufferSize = 8192;

// Fills buffer (kReceiveBufferSize + 1 bytes, so it stays terminated) and
// receives until the blank line after the headers, a full buffer, the
// peer's close or the receive time-out, so that a request cut into several
// segments arrives whole. 1 when data came or the peer closed in order, 0
// on an error before any data.
int ReceiveRequest(tagREQUEST* request, char* buffer, size_t size);

// The request line may be this long (the share module's long file list
// excepted); the header lines may fill the rest of the buffer.
inline constexpr size_t kMaxRequestLine = 1024;

// Parses text in place (the method and target tokens are terminated inside
// it; szMethod and szQueryString point into it) and fills szEnvBlock,
// szFilePath and szUri. Never writes past a field: what does not fit is
// refused with kParseBadRequest. The file path begins with the server's web
// root, or with web_root where one is given.
int ParseRequest(tagREQUEST* request, char* text);
int ParseRequest(tagREQUEST* request, char* text, std::string_view web_root);
