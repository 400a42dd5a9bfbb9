#include <stdlib.h>

#include <cerrno>

#include "platform/environment.h"

namespace platform {

std::optional<std::string> GetEnvironment(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

int SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
  int result = value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  return result == 0 ? 0 : errno;
}

std::optional<std::string> StateHome() {
  std::optional<std::string> state = GetEnvironment("XDG_STATE_HOME");
  // The XDG base directory rule: a relative path is ignored.
  if (state && state->starts_with('/')) return state;
  std::optional<std::string> home = GetEnvironment("HOME");
  if (!home || !home->starts_with('/')) return std::nullopt;
  return *home + "/.local/state";
}

}  // namespace platform
