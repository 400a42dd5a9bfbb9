#include <memory>
#include <optional>
#include <string>

#include "platform/desktop.h"
#include "platform/environment.h"
#include "platform/posix/desktop_library.h"
#include "platform/process.h"
#include "platform/shared_library.h"

namespace platform {
namespace {

bool Named(const char* variable) {
  const std::optional<std::string> value = GetEnvironment(variable);
  return value && !value->empty();
}

}  // namespace

OpenedDesktop OpenDesktop(const std::string& icon_file) {
  OpenedDesktop opened;
  if (!Named("DISPLAY") && !Named("WAYLAND_DISPLAY")) {
    opened.desktop = OpenPlainDesktop();
    return opened;
  }
  std::string error;
  std::optional<SharedLibrary> library =
      SharedLibrary::Load(ProgramDirectory() + "/" + kDesktopLibrary, &error);
  auto open = library ? library->Find<OpenGtkDesktopFn>(kOpenDesktopExport) : nullptr;
  if (open == nullptr) {
    opened.problem = std::string("cannot load the desktop library: ") +
                     (library ? std::string(kOpenDesktopExport) + " is missing" : error);
  } else {
    opened.desktop.reset(open(icon_file.c_str()));
    if (!opened.desktop) opened.problem = "no display answers";
  }
  // GTK and GLib cannot be unloaded once started; the desktop's code must
  // outlive the desktop anyway.
  if (library) library->Keep();
  if (!opened.desktop) opened.desktop = OpenPlainDesktop();
  return opened;
}

}  // namespace platform
