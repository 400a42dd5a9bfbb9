// The standard output of a short-lived helper program, such as a desktop's
// settings tool: bounded in size and in time, so a tool that hangs or
// floods cannot hold up or swell the caller.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Runs program (looked up in PATH) with args, standard input and error on
// /dev/null. Its standard output when it ended with status 0 within timeout
// and wrote at most limit bytes; none otherwise (a child still running then
// is killed).
std::optional<std::string> CommandOutput(const std::string& program,
                                         const std::vector<std::string>& args, size_t limit,
                                         std::chrono::milliseconds timeout);

}  // namespace platform
