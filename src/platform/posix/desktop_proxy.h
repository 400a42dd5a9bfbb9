// Which desktop's proxy settings libproxy 0.4 follows, and whether they name
// proxies by hand or through a PAC file. libproxy answers with proxies
// only; the user is told where they came from by asking the desktop's own
// settings tool (gsettings, kreadconfig5), as libproxy's plug-ins do.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system_proxy.h"

namespace platform {

enum class ProxyDesktop { kNone, kGnome, kKde };

// libproxy 0.4's own tests: GNOME when GNOME_DESKTOP_SESSION_ID is set or
// DESKTOP_SESSION is gnome, gnome-wayland or mate; else KDE when
// KDE_FULL_SESSION is set.
ProxyDesktop FollowedDesktop();

// The desktop XDG_CURRENT_DESKTOP names (a ':'-separated list, matched
// without regard to case): GNOME for GNOME and the desktops that keep
// GNOME's proxy settings, KDE for KDE.
ProxyDesktop NamedDesktop(std::string_view current_desktop);

// Where a proxy that libproxy named came from (the PAC file's URL with it).
struct ProxySource {
  ProxyOrigin origin = ProxyOrigin::kEnvironment;
  std::string pac_url;
};
ProxySource FollowedSource();

// The text of a string as gsettings prints it ('text' or "text", with
// backslash escapes); none when it is not one.
std::optional<std::string> GSettingsString(std::string_view printed);

}  // namespace platform
