// Whether a person is watching: the program's standard error is a terminal.
#pragma once

namespace platform {

bool StandardErrorIsTerminal();

}  // namespace platform
