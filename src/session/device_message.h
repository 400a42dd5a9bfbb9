// One device message as the heartbeat hands it over: a run of zero-ended
// tokens, key, value, key, value..., from the key "messageType" on. The run
// the answer gives reaches to the end of its details line, over the later
// messages too; OwnMessage cuts it where the next message begins.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

// The run a caller hands over as a pointer and a length (none when null).
constexpr std::string_view MessageRun(const char* text, int length) {
  return text != nullptr && length > 0 ? std::string_view(text, static_cast<size_t>(length))
                                       : std::string_view();
}

// The run's first token: what the log shows of a message.
constexpr std::string_view FirstToken(std::string_view run) {
  return run.substr(0, run.find('\0'));
}

// The message up to (not including) the next "messageType" token, or the
// zero that ended the details line: its fields, and no other message's.
std::string_view OwnMessage(std::string_view run);

// The tokens of a run in order; the last may end at the run's end without
// its zero byte.
std::vector<std::string_view> MessageTokens(std::string_view run);

// The token after the first token equal to name (the first token of the
// run does not count as a name); nothing when there is none.
std::optional<std::string_view> GetMessageField(std::string_view run, std::string_view name);
inline std::optional<std::string_view> GetMessageSID(std::string_view run) {
  return GetMessageField(run, "messageSID");
}

// A setting a ConfigSetting message carries: the value of the first key
// token beginning with 'k' (the name) and of the first beginning with 'v'
// (the value), looked for among the key tokens after the type; the search
// ends at the 'v'.
struct MessageSetting {
  std::optional<std::string_view> name, value;
};
MessageSetting FindMessageSetting(std::string_view run);

// The run as a query: zero bytes become '=' and '&' by turns.
std::string MessageQuery(std::string_view run);
