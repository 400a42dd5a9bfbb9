// Finding a program the way a shell does, for starting system tools such as
// the desktop's file opener.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The first executable file named name in the directories of search_path
// (the platform's PATH syntax), or nothing.
std::optional<std::string> FindProgram(std::string_view name, std::string_view search_path);

}  // namespace platform
