// A Windows command line is one text: each argument is quoted so that the
// C runtime's parser in the started program reads it back unchanged.
#pragma once

#include <string>

namespace platform {

void AppendQuotedArgument(std::string& line, const std::string& argument);

}  // namespace platform
