// The process environment: where a Linux user's session keeps its proxy
// choice, its configuration and its programs' state.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The variable's value; none when it is not set.
std::optional<std::string> GetEnvironment(const std::string& name);

// Sets the variable, or removes it when value is none. 0 or the error number.
int SetEnvironment(const std::string& name, const std::optional<std::string>& value);

// Where the account keeps what programs write and keep between sessions:
// $XDG_STATE_HOME when it is an absolute path, else $HOME/.local/state.
// None without either, and on Windows, where a program keeps its state in
// its own folder.
std::optional<std::string> StateHome();

}  // namespace platform
