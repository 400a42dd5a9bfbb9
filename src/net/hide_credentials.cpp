#include "net/hide_credentials.h"

std::string HideCredentials(std::string_view text) {
  constexpr std::string_view kHeader = "Proxy-Authorization:";
  std::string shown;
  size_t start = 0;
  for (size_t found; (found = text.find(kHeader, start)) != std::string_view::npos;) {
    size_t value = found + kHeader.size();
    size_t end = text.find('\n', value);
    if (end == std::string_view::npos) end = text.size();
    shown.append(text.substr(start, value - start)).append(" *");
    start = end;
  }
  return shown.append(text.substr(start));
}

bool IsSocksPasswordMessage(std::string_view message) {
  return !message.empty() && message.front() == '\x01';
}
