#include <sys/stat.h>
#include <unistd.h>

#include "platform/program_search.h"

namespace platform {

std::optional<std::string> FindProgram(std::string_view name, std::string_view search_path) {
  if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
  while (true) {
    size_t colon = search_path.find(':');
    std::string_view dir = search_path.substr(0, colon);
    // An empty entry means the current directory, as in a shell.
    std::string candidate = dir.empty() ? std::string(".") : std::string(dir);
    candidate.append("/").append(name);
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    search_path.remove_prefix(colon + 1);
  }
}

}  // namespace platform
