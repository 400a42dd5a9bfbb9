#include "net/answer_chunks.h"

#include <cstring>

#include "net/outbound_state.h"

namespace {

bool HasEither(std::string_view text, std::string_view http10, std::string_view http11) {
  return text.find(http10) != std::string_view::npos || text.find(http11) != std::string_view::npos;
}

}  // namespace

std::string_view ChunkText(const char* chunk, size_t length) {
  const void* zero = std::memchr(chunk, '\0', length);
  return std::string_view(chunk, zero != nullptr ? static_cast<const char*>(zero) - chunk : length);
}

ChunkVerdict JudgeAnswerChunk(std::string_view text) {
  if (!text.starts_with("HTTP/1")) return {ChunkKind::kData, text};
  if (HasEither(text, "HTTP/1.0 407", "HTTP/1.1 407")) return {ChunkKind::kCredentialsRequired, {}};
  if (HasEither(text, "HTTP/1.0 403", "HTTP/1.1 403")) return {ChunkKind::kForbidden, {}};
  if (HasEither(text, "HTTP/1.0 502", "HTTP/1.1 502")) return {ChunkKind::kProxyError, {}};
  size_t blank = text.find("\r\n\r\n");
  return {ChunkKind::kData, blank == std::string_view::npos ? text : text.substr(blank + 4)};
}

std::string_view ErrorLineOf(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line.substr(0, kErrorLineSize - 1);
}
