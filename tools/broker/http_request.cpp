#include "http_request.h"

#include <cctype>

namespace qvbroker {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

bool ParseLength(std::string_view text, size_t* out) {
  text = Trim(text);
  if (text.empty() || text.size() > 12) return false;
  size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  *out = value;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The end of a part's headers: the first empty line (LF or CR LF) at or
// after from. headersEnd is where it starts, contentStart just after it.
bool FindBlankLine(std::string_view text, size_t from, size_t* headersEnd, size_t* contentStart) {
  size_t lineStart = from;
  while (lineStart < text.size()) {
    size_t lf = text.find('\n', lineStart);
    if (lf == std::string_view::npos) return false;
    if (lf == lineStart || (lf == lineStart + 1 && text[lineStart] == '\r')) {
      *headersEnd = lineStart;
      *contentStart = lf + 1;
      return true;
    }
    lineStart = lf + 1;
  }
  return false;
}

}  // namespace

ParseState ParseRequest(std::string_view data, bool final, HttpRequest* out) {
  *out = HttpRequest{};
  // Lines up to the first empty one; a line ends at '\n', a CR before it is
  // not part of the line.
  std::vector<std::string_view> lines;
  size_t pos = 0;
  size_t headerEnd = std::string_view::npos;
  while (pos < data.size()) {
    size_t lf = data.find('\n', pos);
    if (lf == std::string_view::npos) break;
    std::string_view line = data.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = lf + 1;
    if (line.empty()) {
      if (lines.empty()) continue;  // stray line break before the request line
      headerEnd = pos;
      break;
    }
    lines.push_back(line);
  }
  if (headerEnd == std::string_view::npos) {
    return data.size() > kMaxHeaderBytes ? ParseState::kMalformed : ParseState::kIncomplete;
  }
  if (headerEnd > kMaxHeaderBytes) return ParseState::kMalformed;

  // Method up to the first blank, version after the last: the target may
  // hold blanks because the device does not escape every value it sends.
  std::string_view requestLine = lines.front();
  size_t firstBlank = requestLine.find(' ');
  size_t lastBlank = requestLine.rfind(' ');
  if (firstBlank == std::string_view::npos || lastBlank == firstBlank || firstBlank == 0) {
    return ParseState::kMalformed;
  }
  out->method = requestLine.substr(0, firstBlank);
  out->target = Trim(requestLine.substr(firstBlank + 1, lastBlank - firstBlank - 1));
  out->version = requestLine.substr(lastBlank + 1);
  if (out->target.empty() || out->version.empty()) return ParseState::kMalformed;

  for (size_t i = 1; i < lines.size(); ++i) {
    size_t colon = lines[i].find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    out->headers.emplace_back(Trim(lines[i].substr(0, colon)), Trim(lines[i].substr(colon + 1)));
  }
  if (auto length = HeaderValue(*out, "Content-Length")) {
    if (!ParseLength(*length, &out->contentLength) || out->contentLength > kMaxBodyBytes) {
      return ParseState::kMalformed;
    }
  }
  out->headerLength = headerEnd;
  std::string_view rest = data.substr(headerEnd);
  out->body = rest.substr(0, out->contentLength);
  if (out->body.size() < out->contentLength && !final) return ParseState::kIncomplete;
  return ParseState::kComplete;
}

std::optional<std::string_view> HeaderValue(const HttpRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.headers) {
    if (EqualsNoCase(key, name)) return value;
  }
  return std::nullopt;
}

std::string_view PathOf(std::string_view target) {
  if (target.substr(0, 7) == "http://" || target.substr(0, 8) == "https://") {
    size_t slash = target.find('/', target.find("//") + 2);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  return target.substr(0, target.find('?'));
}

std::string_view QueryOf(std::string_view target) {
  size_t q = target.find('?');
  return q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

Query ParseQuery(std::string_view query) {
  Query out;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;
    size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      out.emplace_back(PercentDecode(item), std::string());
    } else {
      out.emplace_back(PercentDecode(item.substr(0, eq)), PercentDecode(item.substr(eq + 1)));
    }
  }
  return out;
}

std::optional<std::string> QueryValue(const Query& query, std::string_view key) {
  for (const auto& [k, v] : query) {
    if (k == key) return v;
  }
  return std::nullopt;
}

std::optional<Upload> FindUpload(std::string_view contentType, std::string_view body) {
  size_t b = contentType.find("boundary=");
  if (b == std::string_view::npos) return std::nullopt;
  std::string_view boundary = contentType.substr(b + 9);
  boundary = Trim(boundary.substr(0, boundary.find(';')));
  if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"') {
    boundary = boundary.substr(1, boundary.size() - 2);
  }
  if (boundary.empty()) return std::nullopt;
  const std::string delimiter = "--" + std::string(boundary);

  size_t pos = body.find(delimiter);
  while (pos != std::string_view::npos) {
    size_t partStart = body.find('\n', pos + delimiter.size());
    if (partStart == std::string_view::npos) return std::nullopt;
    ++partStart;
    size_t headersEnd = 0;
    size_t contentStart = 0;
    if (!FindBlankLine(body, partStart, &headersEnd, &contentStart)) return std::nullopt;
    std::string_view headers = body.substr(partStart, headersEnd - partStart);
    size_t next = body.find(delimiter, contentStart);
    size_t f = headers.find("filename=\"");
    if (f != std::string_view::npos) {
      size_t nameStart = f + 10;
      size_t nameEnd = headers.find('"', nameStart);
      if (nameEnd == std::string_view::npos) return std::nullopt;
      size_t contentEnd = next == std::string_view::npos ? body.size() : next;
      // The line break before a delimiter belongs to the delimiter.
      if (next != std::string_view::npos && contentEnd > contentStart && body[contentEnd - 1] == '\n') {
        --contentEnd;
        if (contentEnd > contentStart && body[contentEnd - 1] == '\r') --contentEnd;
      }
      return Upload{std::string(headers.substr(nameStart, nameEnd - nameStart)),
                    body.substr(contentStart, contentEnd - contentStart)};
    }
    pos = next;
  }
  return std::nullopt;
}

}  // namespace qvbroker
