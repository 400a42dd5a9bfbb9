// Byte-wise text helpers that ignore the locale: the wire texts, setting
// names and module names of the system are ASCII.
#pragma once

#include <cstring>
#include <string_view>

constexpr char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

// Without leading blanks and tabs, and trailing blanks, tabs and CR: a
// header or settings line as received.
constexpr std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Whether text (which may be null) contains part, case-sensitive: the test
// the routing rules make on paths and queries.
inline bool ContainsText(const char* text, const char* part) {
  return text != nullptr && std::strstr(text, part) != nullptr;
}

// Where part first occurs in text, ignoring ASCII case; npos when nowhere.
constexpr size_t FindIgnoreCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return std::string_view::npos;
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (EqualsIgnoreCase(text.substr(i, part.size()), part)) return i;
  }
  return std::string_view::npos;
}

// Whether text contains part, ignoring ASCII case: module
// names in paths, which name the same file whatever their case.
inline bool ContainsTextIgnoreCase(std::string_view text, std::string_view part) {
  return FindIgnoreCase(text, part) != std::string_view::npos;
}
inline bool ContainsTextIgnoreCase(const char* text, const char* part) {
  return text != nullptr && ContainsTextIgnoreCase(std::string_view(text), std::string_view(part));
}
