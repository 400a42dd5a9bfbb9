// The entry under which the user's session starts a program at log-on, and
// its command line. On Linux that is an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<name>.desktop (or ~/.config/autostart/...),
// whose Exec= line is the command. On Windows it is a value of the Run key,
// the local machine's, else (a per-user installation) the current user's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The command line of the log-on entry called name; none when there is no
// such entry or it names no command.
std::optional<std::string> AutostartCommand(std::string_view name);

// The value of the Exec key in the [Desktop Entry] group of a desktop
// file's text; none when it has none. Other groups (actions) are ignored.
std::optional<std::string> DesktopEntryExec(std::string_view file_text);

}  // namespace platform
