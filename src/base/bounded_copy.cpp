#include "base/bounded_copy.h"

#include <algorithm>
#include <cstring>

size_t CopyBounded(char* dest, size_t size, std::string_view text) {
  if (size == 0) return 0;
  size_t n = std::min(text.size(), size - 1);
  text.copy(dest, n);  // an empty view may have no data at all: memcpy must not see it
  dest[n] = '\0';
  return n;
}

size_t CopyPadded(char* dest, size_t size, std::string_view text) {
  if (size == 0) return 0;
  size_t n = CopyBounded(dest, size, text);
  std::memset(dest + n, 0, size - n);
  return n;
}

bool AppendBounded(char* dest, size_t size, std::string_view text) {
  size_t used = strnlen(dest, size);
  if (used >= size) return false;
  size_t copied = CopyBounded(dest + used, size - used, text);
  return copied == text.size();
}

char* QvNewText(const char* text, size_t length) {
  char* copy = new char[length + 1];
  if (length != 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}
