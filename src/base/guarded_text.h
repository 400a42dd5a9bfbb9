// Text fields of records that several threads share (the device, its proxy
// variables) keep their fixed buffers, because modules see the layout. Every
// read and write of such a field goes through these two functions, which
// hold one process-wide lock, so no reader sees half a text.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

std::string ReadGuarded(const char* field, size_t size);
// For work on several guarded fields at once (a list cut in place and walked).
std::unique_lock<std::mutex> LockGuardedTexts();
// Bounded and terminated, like CopyBounded.
void WriteGuarded(char* field, size_t size, std::string_view text);

// That lock as plain functions. Every copy of this runtime (the program,
// each module) has a lock of its own; a record one copy makes and hands to
// another (the host's device) carries its maker's guard, so that both sides
// take the same lock for its texts. Hold it with std::lock_guard.
struct QvTextGuard {
  void (*lock_text)();
  void (*unlock_text)();
  void lock() const { lock_text(); }
  void unlock() const { unlock_text(); }
};
// The guard of this copy's lock, which ReadGuarded and WriteGuarded take.
const QvTextGuard& ThisRuntimeTextGuard();

// The same on a record another copy may have made: under that record's guard.
std::string ReadGuarded(const QvTextGuard& guard, const char* field, size_t size);
void WriteGuarded(const QvTextGuard& guard, char* field, size_t size, std::string_view text);

template <size_t N>
std::string ReadGuarded(const char (&field)[N]) {
  return ReadGuarded(field, N);
}
template <size_t N>
void WriteGuarded(char (&field)[N], std::string_view text) {
  WriteGuarded(field, N, text);
}
template <size_t N>
std::string ReadGuarded(const QvTextGuard& guard, const char (&field)[N]) {
  return ReadGuarded(guard, field, N);
}
template <size_t N>
void WriteGuarded(const QvTextGuard& guard, char (&field)[N], std::string_view text) {
  WriteGuarded(guard, field, N, text);
}
