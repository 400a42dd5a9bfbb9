// What other processes send to the main window's endpoint, one line each:
// "WM_CLOSE", "WM_QUERYENDSESSION", "WM_COMMAND <command>" or
// "Quovane <wParam>" (the registered message). Unknown lines are ignored.
#pragma once

#include <string>

namespace shell {

void PostWindowLine(std::string line);

}  // namespace shell
