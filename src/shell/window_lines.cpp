#include "shell/window_lines.h"

#include <charconv>
#include <string_view>

#include "shell/shell.h"

namespace shell {

void PostWindowLine(std::string line) {
  std::string_view text = line;
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::string_view name = text.substr(0, text.find(' '));
  intptr_t wparam = 0;
  if (name.size() < text.size()) {
    std::string_view number = text.substr(name.size() + 1);
    std::from_chars(number.data(), number.data() + number.size(), wparam);
  }
  if (name == "WM_CLOSE") {
    PostMessage(WM_CLOSE);
  } else if (name == "WM_QUERYENDSESSION") {
    PostMessage(WM_QUERYENDSESSION);
  } else if (name == "WM_COMMAND") {
    // Commands carrying a text (help) come only from inside the process.
    if (wparam != kCommandDisplayHelp) PostMessage(WM_COMMAND, wparam);
  } else if (name == "Quovane") {
    PostMessage(kQuovaneMessage, wparam);
  }
}

}  // namespace shell
