#include "platform/autostart.h"
#include "platform/environment.h"
#include "platform/file.h"

namespace platform {

namespace {

// The XDG base directory rule: a relative XDG_CONFIG_HOME is ignored.
std::optional<std::string> ConfigHome() {
  std::optional<std::string> config = GetEnvironment("XDG_CONFIG_HOME");
  if (config && config->starts_with('/')) return config;
  std::optional<std::string> home = GetEnvironment("HOME");
  if (!home || home->empty()) return std::nullopt;
  return *home + "/.config";
}

}  // namespace

std::optional<std::string> AutostartCommand(std::string_view name) {
  std::optional<std::string> config = ConfigHome();
  if (!config) return std::nullopt;
  std::string path = *config + "/autostart/";
  path.append(name).append(".desktop");
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  return DesktopEntryExec(*text);
}

}  // namespace platform
