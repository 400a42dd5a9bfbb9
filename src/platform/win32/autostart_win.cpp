#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/autostart.h"

namespace platform {
namespace {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr DWORD kValueLimit = 32768;  // bytes; anything longer is no command of ours

// The value under hive's Run key; a REG_EXPAND_SZ value comes expanded.
// None when it is missing, empty, of another type or too long.
std::optional<std::string> RunValue(HKEY hive, const std::string& name) {
  DWORD size = 0;
  if (::RegGetValueA(hive, kRunKey, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0 || size > kValueLimit) {
    return std::nullopt;
  }
  std::string command(size, '\0');
  if (::RegGetValueA(hive, kRunKey, name.c_str(), RRF_RT_REG_SZ, nullptr, command.data(),
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  command.resize(strnlen(command.c_str(), std::min<size_t>(size, command.size())));
  if (command.empty()) return std::nullopt;
  return command;
}

}  // namespace

// The machine's entry first, as an installation for all users writes it;
// a per-user installation can only write the current user's.
std::optional<std::string> AutostartCommand(std::string_view name) {
  const std::string value_name(name);
  if (std::optional<std::string> machine = RunValue(HKEY_LOCAL_MACHINE, value_name)) {
    return machine;
  }
  return RunValue(HKEY_CURRENT_USER, value_name);
}

}  // namespace platform
