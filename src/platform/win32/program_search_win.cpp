#include <windows.h>

#include "platform/program_search.h"

namespace platform {
namespace {

bool IsFile(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

// PATH entries are separated by ';'; a name without an extension is also
// looked for with ".exe", as the command interpreter does.
std::optional<std::string> FindProgram(std::string_view name, std::string_view search_path) {
  if (name.empty() || name.find_first_of("/\\") != std::string_view::npos) return std::nullopt;
  const bool has_extension = name.find('.') != std::string_view::npos;
  while (true) {
    size_t separator = search_path.find(';');
    std::string_view dir = search_path.substr(0, separator);
    std::string candidate = dir.empty() ? std::string(".") : std::string(dir);
    candidate.append("\\").append(name);
    if (IsFile(candidate)) return candidate;
    if (!has_extension && IsFile(candidate + ".exe")) return candidate + ".exe";
    if (separator == std::string_view::npos) return std::nullopt;
    search_path.remove_prefix(separator + 1);
  }
}

}  // namespace platform
