#include <stdlib.h>

#include <cerrno>

#include "platform/environment.h"

namespace platform {

std::optional<std::string> GetEnvironment(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The C runtime's copy of the environment is the one getenv reads, and
// _putenv_s passes the change on to the system's; an empty value removes
// the variable there, so an empty one cannot be set.
int SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
  return ::_putenv_s(name.c_str(), value ? value->c_str() : "");
}

// The Windows program keeps its state in its own folder.
std::optional<std::string> StateHome() { return std::nullopt; }

}  // namespace platform
