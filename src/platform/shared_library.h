// A dynamic library loaded by name, unloaded on destruction. A plain name
// (no directory) is looked for the usual way: the working directory first,
// then the program's own directory. In each folder the name as given is
// tried first, then a file whose name differs only in case.
#pragma once

#include <optional>
#include <string>

namespace platform {

class SharedLibrary {
 public:
  SharedLibrary(SharedLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  // The library, or nothing and the loader's reason in *error.
  static std::optional<SharedLibrary> Load(const std::string& name, std::string* error);
  // True when Load finds a file for name, whether or not it then loads.
  static bool Exists(const std::string& name);

  // The exported symbol, or null.
  void* Symbol(const char* name) const;

  // Leaves the library loaded for the rest of the process (code or data of
  // it may still be in use, such as an exception it threw).
  void Keep() { handle_ = nullptr; }

  template <typename Function>
  Function Find(const char* name) const {
    return reinterpret_cast<Function>(Symbol(name));
  }

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace platform
