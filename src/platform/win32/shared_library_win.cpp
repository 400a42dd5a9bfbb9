#include <windows.h>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/shared_library.h"

namespace platform {

namespace {

HMODULE Module(void* handle) { return static_cast<HMODULE>(handle); }

std::string LastErrorText() {
  const DWORD error = ::GetLastError();
  char buffer[256] = "";
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r')) buffer[--n] = '\0';
  return n > 0 ? std::string(buffer, n) : "LoadLibrary error " + std::to_string(error);
}

}  // namespace

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::FreeLibrary(Module(handle_));
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) ::FreeLibrary(Module(handle_));
}

// File names are case-blind on Windows already, so the case-blind match is
// the system's. A plain name is looked for in the working directory, then
// the program's folder, and never along PATH or in the system folders.
namespace {

std::string Path(const std::string& name) {
  if (name.find_first_of("/\\") != std::string::npos) return name;
  return FileExists(".\\" + name) ? ".\\" + name : ProgramDirectory() + "\\" + name;
}

}  // namespace

bool SharedLibrary::Exists(const std::string& name) { return FileExists(Path(name)); }

std::optional<SharedLibrary> SharedLibrary::Load(const std::string& name, std::string* error) {
  std::string path = Path(name);
  // Altered search order (which wants a full path): the DLLs the module
  // itself needs are found beside it.
  char full[MAX_PATH + 1];
  DWORD n = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n > 0 && n < sizeof full) path.assign(full, n);
  HMODULE handle = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (handle == nullptr) {
    if (error != nullptr) *error = LastErrorText();
    return std::nullopt;
  }
  return SharedLibrary(handle);
}

void* SharedLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(Module(handle_), name));
}

}  // namespace platform
