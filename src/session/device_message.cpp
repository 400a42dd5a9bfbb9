#include "session/device_message.h"

#include <string>

namespace {

constexpr std::string_view kTypeKey = "messageType";

// The token starting at pos and where the next one starts.
std::pair<std::string_view, size_t> TokenAt(std::string_view run, size_t pos) {
  size_t end = run.find('\0', pos);
  if (end == std::string_view::npos) return {run.substr(pos), run.size()};
  return {run.substr(pos, end - pos), end + 1};
}

}  // namespace

std::string_view OwnMessage(std::string_view run) {
  size_t pos = TokenAt(run, 0).second;
  // Keys and values take turns; only a key starts the next message.
  for (bool key = false; pos < run.size(); key = !key) {
    auto [token, next] = TokenAt(run, pos);
    if (key && token == kTypeKey) return run.substr(0, pos - 1);  // without the zero before it
    pos = next;
  }
  // The last message runs over the zero that ended its line.
  if (!run.empty() && run.back() == '\0') run.remove_suffix(1);
  return run;
}

std::vector<std::string_view> MessageTokens(std::string_view run) {
  std::vector<std::string_view> tokens;
  for (size_t pos = 0; pos < run.size();) {
    auto [token, next] = TokenAt(run, pos);
    tokens.push_back(token);
    pos = next;
  }
  return tokens;
}

std::optional<std::string_view> GetMessageField(std::string_view run, std::string_view name) {
  size_t pos = TokenAt(run, 0).second;
  while (pos < run.size()) {
    auto [token, next] = TokenAt(run, pos);
    if (token == name) {
      // A name at the very end, without its zero byte, has no value.
      if (next == run.size() && run.back() != '\0') return std::nullopt;
      return TokenAt(run, next).first;
    }
    pos = next;
  }
  return std::nullopt;
}

MessageSetting FindMessageSetting(std::string_view run) {
  const std::vector<std::string_view> tokens = MessageTokens(run);
  MessageSetting setting;
  for (size_t i = 2; i + 1 < tokens.size(); i += 2) {
    if (!setting.name && tokens[i].starts_with('k')) {
      setting.name = tokens[i + 1];
    } else if (tokens[i].starts_with('v')) {
      setting.value = tokens[i + 1];
      break;
    }
  }
  return setting;
}

std::string MessageQuery(std::string_view run) {
  std::string query(run);
  bool equals = true;
  for (char& c : query) {
    if (c != '\0') continue;
    c = equals ? '=' : '&';
    equals = !equals;
  }
  return query;
}
