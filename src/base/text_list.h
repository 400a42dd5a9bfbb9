// A list in the sentences a person reads: "a", "a and b", "a, b and c".
#pragma once

#include <string>
#include <vector>

inline std::string JoinAsList(const std::vector<std::string>& parts) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? " and " : ", ";
    text += parts[i];
  }
  return text;
}
