#include "base/guarded_text.h"

#include <cstring>
#include <mutex>

#include "base/bounded_copy.h"

namespace {

std::mutex& TextLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

const QvTextGuard& ThisRuntimeTextGuard() {
  static const QvTextGuard guard{[] { TextLock().lock(); }, [] { TextLock().unlock(); }};
  return guard;
}

std::unique_lock<std::mutex> LockGuardedTexts() { return std::unique_lock<std::mutex>(TextLock()); }

std::string ReadGuarded(const char* field, size_t size) {
  std::lock_guard<std::mutex> lock(TextLock());
  return std::string(field, strnlen(field, size));
}

void WriteGuarded(char* field, size_t size, std::string_view text) {
  std::lock_guard<std::mutex> lock(TextLock());
  CopyBounded(field, size, text);
}
