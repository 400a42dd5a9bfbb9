#include <dlfcn.h>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/shared_library.h"

namespace platform {

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

std::optional<SharedLibrary> SharedLibrary::Load(const std::string& name, std::string* error) {
  std::string path = name;
  if (name.find('/') == std::string::npos) {
    // dlopen would search only the system's library path for a plain name.
    path = "./" + name;
    if (!FileExists(path)) path = ProgramDirectory() + "/" + name;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* reason = ::dlerror();
      *error = reason != nullptr ? reason : "unknown error";
    }
    return std::nullopt;
  }
  return SharedLibrary(handle);
}

void* SharedLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace platform
