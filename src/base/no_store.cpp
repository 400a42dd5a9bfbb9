#include "base/no_store.h"

#include "base/ascii.h"

std::optional<size_t> NoStoreInsertAt(std::string_view answer) {
  if (!answer.starts_with("HTTP/")) return std::nullopt;
  const size_t line_end = answer.find('\n');
  if (line_end == std::string_view::npos) return std::nullopt;
  size_t head_end = answer.find("\n\n");
  if (size_t crlf = answer.find("\n\r\n"); crlf < head_end) head_end = crlf;
  const std::string_view head = answer.substr(0, head_end);
  if (FindIgnoreCase(head, "\ncache-control:") != std::string_view::npos) return std::nullopt;
  return line_end + 1;
}

namespace {

std::string_view NoStoreLine(std::string_view answer, size_t at) {
  const bool crlf = at >= 2 && answer[at - 2] == '\r';
  return crlf ? "Cache-Control: no-store\r\n" : "Cache-Control: no-store\n";
}

}  // namespace

std::string WithNoStore(std::string_view answer) {
  const std::optional<size_t> at = NoStoreInsertAt(answer);
  if (!at) return std::string(answer);
  std::string text;
  const std::string_view line = NoStoreLine(answer, *at);
  text.reserve(answer.size() + line.size());
  text.append(answer.substr(0, *at)).append(line).append(answer.substr(*at));
  return text;
}
