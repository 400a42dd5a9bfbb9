// How one received chunk of an answer is judged, before it goes into the
// caller's stream: a chunk that begins with an HTTP/1 status line naming
// 407, 403 or 502 ends the request; any other chunk that begins with a
// status line gives only the text after its header block. Pure functions
// over the received bytes; nothing here reads past them.
#pragma once

#include <cstddef>
#include <string_view>

enum class ChunkKind {
  kData,                 // append ChunkVerdict::append to the stream
  kCredentialsRequired,  // 407
  kForbidden,            // 403
  kProxyError,           // 502
};

struct ChunkVerdict {
  ChunkKind kind;
  std::string_view append;  // a view into the chunk; empty unless kData
};

// The chunk as the text it was handled as: up to its first zero byte.
std::string_view ChunkText(const char* chunk, size_t length);

// text is a chunk's text (see ChunkText). Every chunk is judged alike, not
// only the first; the status tests look anywhere in a chunk that begins
// with "HTTP/1".
ChunkVerdict JudgeAnswerChunk(std::string_view text);

// The error line of an answer: its first line without the line feed and a
// carriage return before it, at most 127 characters.
std::string_view ErrorLineOf(std::string_view text);
