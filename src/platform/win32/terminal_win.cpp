#include <io.h>
#include <stdio.h>

#include "platform/terminal.h"

namespace platform {

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

// Windows has no journal on standard error.
bool StandardErrorIsJournal() { return false; }

}  // namespace platform
