#include <io.h>
#include <stdio.h>

#include "platform/terminal.h"

namespace platform {

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace platform
