// The one way texts enter fixed-size buffers: at most size-1 characters,
// always terminated, so a full buffer is never read past its end later.
#pragma once

#include <cstddef>
#include <string_view>

// Copies text into dest[size] and terminates it; returns the characters
// copied. A size of 0 copies nothing.
size_t CopyBounded(char* dest, size_t size, std::string_view text);

template <size_t N>
size_t CopyBounded(char (&dest)[N], std::string_view text) {
  return CopyBounded(dest, N, text);
}

// Like CopyBounded, and zero-fills the rest of the buffer.
size_t CopyPadded(char* dest, size_t size, std::string_view text);

// Appends text to the terminated text in dest[size], within bounds; returns
// false when it had to cut.
bool AppendBounded(char* dest, size_t size, std::string_view text);

// The text of a fixed field, up to its first zero and never past its end.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
  size_t length = 0;
  while (length < N && field[length] != '\0') ++length;
  return {field, length};
}

// A new[] copy of length bytes of text, terminated (free it with delete[]).
// Modules return their answers this way.
char* QvNewText(const char* text, size_t length);
