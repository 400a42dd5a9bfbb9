#include <dirent.h>
#include <dlfcn.h>

#include <string_view>

#include "platform/file.h"
#include "platform/posix/ascii_case.h"
#include "platform/process.h"
#include "platform/shared_library.h"

namespace platform {

namespace {

// The file at path, or else one in the same folder whose name differs only
// in case (module names are case-blind where the system comes from). Of
// several, the first in byte order, so the choice never depends on the
// folder's order. None when neither exists.
std::optional<std::string> FindIgnoringCase(const std::string& path) {
  if (FileExists(path)) return path;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::string best;
  while (const dirent* entry = ::readdir(dir)) {
    if (SameIgnoringCase(entry->d_name, name) && (best.empty() || best > entry->d_name)) {
      best = entry->d_name;
    }
  }
  ::closedir(dir);
  if (best.empty()) return std::nullopt;
  return slash == std::string::npos ? best : folder + best;
}

// The file Load opens for name, when there is one.
std::optional<std::string> Locate(const std::string& name) {
  if (name.find('/') != std::string::npos) return FindIgnoringCase(name);
  // dlopen would search only the system's library path for a plain name.
  std::optional<std::string> found = FindIgnoringCase("./" + name);
  if (!found) found = FindIgnoringCase(ProgramDirectory() + "/" + name);
  return found;
}

}  // namespace

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

bool SharedLibrary::Exists(const std::string& name) { return Locate(name).has_value(); }

std::optional<SharedLibrary> SharedLibrary::Load(const std::string& name, std::string* error) {
  void* handle = nullptr;
  if (name.find('/') != std::string::npos) {
    // The name as it stands first, without asking whether it is there: a
    // web call names its module this way on every call.
    handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) {
    std::optional<std::string> found = Locate(name);
    if (found && *found != name) {
      (void)::dlerror();
      handle = ::dlopen(found->c_str(), RTLD_NOW | RTLD_LOCAL);
    } else if (!found && name.find('/') == std::string::npos) {
      handle = ::dlopen((ProgramDirectory() + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
  }
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
