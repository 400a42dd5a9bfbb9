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
  return ReadGuarded(ThisRuntimeTextGuard(), field, size);
}

void WriteGuarded(char* field, size_t size, std::string_view text) {
  WriteGuarded(ThisRuntimeTextGuard(), field, size, text);
}

std::string ReadGuarded(const QvTextGuard& guard, const char* field, size_t size) {
  std::lock_guard<const QvTextGuard> lock(guard);
  return std::string(field, strnlen(field, size));
}

void WriteGuarded(const QvTextGuard& guard, char* field, size_t size, std::string_view text) {
  std::lock_guard<const QvTextGuard> lock(guard);
  CopyBounded(field, size, text);
}
