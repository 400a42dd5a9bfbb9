// The process environment: where a Linux user's session keeps its proxy
// choice and its configuration directories.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The variable's value; none when it is not set.
std::optional<std::string> GetEnvironment(const std::string& name);

// Sets the variable, or removes it when value is none. 0 or the error number.
int SetEnvironment(const std::string& name, const std::optional<std::string>& value);

}  // namespace platform
