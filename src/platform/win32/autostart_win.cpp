#include <windows.h>

#include "platform/autostart.h"

namespace platform {

// The value called name under the user's Run key; a REG_EXPAND_SZ value
// comes expanded.
std::optional<std::string> AutostartCommand(std::string_view name) {
  const std::string value_name(name);
  DWORD size = 0;
  const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  if (::RegGetValueA(HKEY_CURRENT_USER, key, value_name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS ||
      size == 0 || size > 32768) {
    return std::nullopt;
  }
  std::string command(size, '\0');
  if (::RegGetValueA(HKEY_CURRENT_USER, key, value_name.c_str(), RRF_RT_REG_SZ, nullptr,
                     command.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  command.resize(strnlen(command.c_str(), command.size()));
  if (command.empty()) return std::nullopt;
  return command;
}

}  // namespace platform
