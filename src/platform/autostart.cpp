#include "platform/autostart.h"

namespace platform {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::optional<std::string> DesktopEntryExec(std::string_view file_text) {
  bool in_entry = false;
  while (!file_text.empty()) {
    size_t end = file_text.find('\n');
    std::string_view line = Trim(file_text.substr(0, end));
    file_text.remove_prefix(end == std::string_view::npos ? file_text.size() : end + 1);

    if (line.starts_with('[')) {
      in_entry = line == "[Desktop Entry]";
      continue;
    }
    if (!in_entry || line.starts_with('#')) continue;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos || Trim(line.substr(0, equals)) != "Exec") continue;
    std::string_view value = Trim(line.substr(equals + 1));
    if (value.empty()) return std::nullopt;
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace platform
