#include "base/ini_file.h"

#include <vector>

#include "base/ascii.h"

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
  size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

enum class LineKind { kOther, kSection, kKey };

struct Line {
  std::string_view raw;  // without the line feed, with any carriage return
  LineKind kind = LineKind::kOther;
  std::string_view name;  // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

Line Classify(std::string_view raw) {
  Line line;
  line.raw = raw;
  std::string_view body = raw;
  if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
  body = Trim(body);
  if (body.empty() || body.front() == ';') return line;
  if (body.front() == '[') {
    size_t close = body.rfind(']');
    if (close == std::string_view::npos) return line;
    line.kind = LineKind::kSection;
    line.name = Trim(body.substr(1, close - 1));
    return line;
  }
  size_t equals = body.find('=');
  if (equals == std::string_view::npos) return line;
  line.kind = LineKind::kKey;
  line.name = Trim(body.substr(0, equals));
  line.value = Trim(body.substr(equals + 1));
  return line;
}

// The first line of text, taken off it.
Line TakeLine(std::string_view& text) {
  size_t end = text.find('\n');
  if (end == std::string_view::npos) end = text.size();
  Line line = Classify(text.substr(0, end));
  text.remove_prefix(end < text.size() ? end + 1 : end);
  return line;
}

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) lines.push_back(TakeLine(text));
  return lines;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::optional<std::string_view> IniFind(std::string_view text, std::string_view section,
                                        std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  bool in_section = false;
  // Line by line, without a list: a module's log reads three keys on every call.
  while (!text.empty()) {
    const Line line = TakeLine(text);
    if (line.kind == LineKind::kSection) {
      in_section = EqualsIgnoreCase(line.name, section);
    } else if (in_section && line.kind == LineKind::kKey && EqualsIgnoreCase(line.name, key)) {
      return Unquote(line.value);
    }
  }
  return std::nullopt;
}

std::string IniAssign(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  const std::vector<Line> lines = SplitLines(text);
  const bool crlf = !lines.empty() && !lines[0].raw.empty() && lines[0].raw.back() == '\r';
  const std::string_view eol = crlf ? "\r\n" : "\n";
  constexpr size_t kNone = static_cast<size_t>(-1);

  size_t key_line = kNone;
  size_t insert_after = kNone;  // header or last key of the first matching section
  int sections_seen = 0;
  bool in_section = false;
  for (size_t i = 0; i < lines.size() && key_line == kNone; ++i) {
    const Line& line = lines[i];
    if (line.kind == LineKind::kSection) {
      in_section = EqualsIgnoreCase(line.name, section);
      if (in_section && ++sections_seen == 1) insert_after = i;
    } else if (in_section && line.kind == LineKind::kKey) {
      if (EqualsIgnoreCase(line.name, key)) key_line = i;
      if (sections_seen == 1) insert_after = i;
    }
  }

  std::string out;
  out.reserve(text.size() + section.size() + key.size() + value.size() + 8);
  auto append_pair = [&](std::string_view name) {
    out.append(name).append("=").append(value);
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool last = i + 1 == lines.size();
    if (i == key_line) {
      append_pair(lines[i].name);
      if (!lines[i].raw.empty() && lines[i].raw.back() == '\r') out.append("\r");
    } else {
      out.append(lines[i].raw);
    }
    if (!last || text.back() == '\n' || i == insert_after) out.append("\n");
    if (i == insert_after && key_line == kNone) {
      append_pair(key);
      out.append(eol);
    }
  }
  if (key_line == kNone && insert_after == kNone) {
    if (!out.empty() && out.back() != '\n') out.append(eol);
    out.append("[").append(section).append("]").append(eol);
    append_pair(key);
    out.append(eol);
  }
  return out;
}

bool IsStorableIniPair(std::string_view key, std::string_view value) {
  constexpr std::string_view kBreaks = "\r\n";
  if (key.find_first_of(kBreaks) != std::string_view::npos) return false;
  if (value.find_first_of(kBreaks) != std::string_view::npos) return false;
  std::string_view name = Trim(key);
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  return name.front() != '[' && name.front() != ';';
}
