#include <chrono>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/command_output.h"
#include "platform/posix/desktop_proxy.h"

namespace platform {

namespace {

constexpr size_t kToolOutputLimit = 4096;
constexpr std::chrono::milliseconds kToolTimeout{2000};

std::string_view TrimmedLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return text;
}

std::optional<std::string> GnomeKey(const char* key) {
  std::optional<std::string> printed = CommandOutput(
      "gsettings", {"get", "org.gnome.system.proxy", key}, kToolOutputLimit, kToolTimeout);
  if (!printed) return std::nullopt;
  return GSettingsString(TrimmedLine(*printed));
}

std::optional<std::string> KdeKey(const char* key) {
  std::optional<std::string> printed = CommandOutput(
      "kreadconfig5", {"--file", "kioslaverc", "--group", "Proxy Settings", "--key", key},
      kToolOutputLimit, kToolTimeout);
  if (!printed) return std::nullopt;
  return std::string(TrimmedLine(*printed));
}

ProxySource GnomeSource() {
  std::optional<std::string> mode = GnomeKey("mode");
  // libproxy read the settings through its own helper; they named a proxy.
  if (!mode || *mode == "manual") return {ProxyOrigin::kGnomeSettings, {}};
  if (*mode == "auto") return {ProxyOrigin::kPacFile, GnomeKey("autoconfig-url").value_or("")};
  return {ProxyOrigin::kEnvironment, {}};
}

// kioslaverc's ProxyType: 1 by hand, 2 a PAC file, 3 WPAD, 4 the environment.
ProxySource KdeSource() {
  std::optional<std::string> type = KdeKey("ProxyType");
  if (!type || type->empty()) return {};
  switch ((*type)[0]) {
    case '1':
      return {ProxyOrigin::kKdeSettings, {}};
    case '2':
      return {ProxyOrigin::kPacFile, KdeKey("Proxy Config Script").value_or("")};
    case '3':
      return {ProxyOrigin::kPacFile, {}};
    default:
      return {};
  }
}

}  // namespace

ProxyDesktop FollowedDesktop() {
  if (GetEnvironment("GNOME_DESKTOP_SESSION_ID")) return ProxyDesktop::kGnome;
  std::optional<std::string> session = GetEnvironment("DESKTOP_SESSION");
  if (session && (*session == "gnome" || *session == "gnome-wayland" || *session == "mate")) {
    return ProxyDesktop::kGnome;
  }
  if (GetEnvironment("KDE_FULL_SESSION")) return ProxyDesktop::kKde;
  return ProxyDesktop::kNone;
}

ProxyDesktop NamedDesktop(std::string_view current_desktop) {
  static constexpr std::string_view kGnomeFamily[] = {"GNOME", "Unity", "X-Cinnamon", "MATE",
                                                      "Pantheon"};
  while (!current_desktop.empty()) {
    size_t end = current_desktop.find(':');
    std::string_view name = current_desktop.substr(0, end);
    current_desktop.remove_prefix(end == std::string_view::npos ? current_desktop.size() : end + 1);
    for (std::string_view gnome : kGnomeFamily) {
      if (SameIgnoringCase(name, gnome)) return ProxyDesktop::kGnome;
    }
    if (SameIgnoringCase(name, "KDE")) return ProxyDesktop::kKde;
  }
  return ProxyDesktop::kNone;
}

ProxySource FollowedSource() {
  switch (FollowedDesktop()) {
    case ProxyDesktop::kGnome:
      return GnomeSource();
    case ProxyDesktop::kKde:
      return KdeSource();
    default:
      return {};
  }
}

std::optional<std::string> GSettingsString(std::string_view printed) {
  if (printed.size() < 2) return std::nullopt;
  const char quote = printed.front();
  if ((quote != '\'' && quote != '"') || printed.back() != quote) return std::nullopt;
  printed = printed.substr(1, printed.size() - 2);
  std::string text;
  for (size_t i = 0; i < printed.size(); ++i) {
    if (printed[i] == '\\' && i + 1 < printed.size()) ++i;
    text += printed[i];
  }
  return text;
}

}  // namespace platform
