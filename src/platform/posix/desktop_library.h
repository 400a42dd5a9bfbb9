// The GTK desktop is a library of its own beside the program, loaded only
// where the session names a display: headless, nothing of GTK is mapped.
// Its one export opens the desktop; the caller owns what it returns.
#pragma once

namespace platform {

class Desktop;

inline constexpr char kDesktopLibrary[] = "libqvdesktop.so";
inline constexpr char kOpenDesktopExport[] = "QvOpenGtkDesktop";
// Null when no display answers.
using OpenGtkDesktopFn = Desktop* (*)(const char* icon_file);

}  // namespace platform
