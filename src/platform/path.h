// Paths as the system writes them ("vclient\port.htx", "..\doc\port.js",
// ".\vane.ini") stay in that form on the wire and in logs; NativePath turns
// one into a file-system path just before the OS sees it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string NativePath(std::string_view path);

}  // namespace platform
