#include "net/header_line.h"

std::optional<std::string> ExtractHeaderLine(std::string_view text, std::string_view name) {
  std::string needle(name);
  needle.push_back(':');
  size_t start = text.find(needle);
  if (start == std::string_view::npos) return std::nullopt;
  std::string_view line = text.substr(start);
  return std::string(line.substr(0, line.find('\n')));
}
