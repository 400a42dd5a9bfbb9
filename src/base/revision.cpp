#include "base/revision.h"

std::string RevisionNumber(std::string_view keyword) {
  size_t colon = keyword.find(':');
  if (colon == std::string_view::npos) return {};
  std::string number;
  for (char c : keyword.substr(colon + 1)) {
    if (c != ' ' && c != '$') number.push_back(c);
  }
  return number;
}
