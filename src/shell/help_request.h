// What a module's help answer may make the main window open. The answer is
// a redirect whose query the main window reads again; a caller who chose
// part of it (the diagnostic's "target") could otherwise name any file of
// the user's. Only the help file is ever opened, at a page inside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shell {

inline constexpr char kHelpFile[] = "..\\doc\\troubleshoot.chm";

// The page to show (empty: the start of the help) when the answer names the
// help file and a page inside it; nothing otherwise.
std::optional<std::string> HelpPage(std::string_view answer);

}  // namespace shell
