// Any settings file, and any key and value the broker may send.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/ini_file.h"

namespace {

std::string_view Trimmed(std::string_view s) {
  size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string_view Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

bool SameName(std::string_view a, std::string_view b) {
  a = Trimmed(a);
  b = Trimmed(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

// Input: file text, then key, value and another key, separated by 0x01.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view parts[4];
  for (std::string_view& part : parts) {
    size_t cut = input.find('\x01');
    part = input.substr(0, cut);
    input = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
  }
  const auto [text, key, value, other] = parts;

  std::optional<std::string_view> other_before = IniFind(text, "Quovane", other);
  if (!IsStorableIniPair(key, value)) return 0;
  const std::string written = IniAssign(text, "Quovane", key, value);

  // What was written reads back, and no other key changed.
  std::optional<std::string_view> read = IniFind(written, "Quovane", key);
  if (!read || *read != Unquoted(Trimmed(value))) std::abort();
  if (!SameName(other, key) && IniFind(written, "Quovane", other) != other_before) std::abort();
  return 0;
}
