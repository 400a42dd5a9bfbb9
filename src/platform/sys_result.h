// The value of an OS call together with the error number it left, so that
// callers (and tests) see both without consulting errno afterwards.
#pragma once

namespace platform {

template <typename T>
struct SysResult {
  T value;
  int error;  // 0 on success; the platform's error number otherwise
  bool ok() const { return error == 0; }
};

}  // namespace platform
