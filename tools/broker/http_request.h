// Parsing of one HTTP request as the device writes it: lines ended by a bare
// line feed or by CR LF, any version token ("HTTP/1.0", "SSL/3.1"), header
// lines that are not "Name: value" (the device sends a line of one blank),
// an optional Content-Length body. Pure functions over the caller's bytes;
// every view points into the buffer given to ParseRequest.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvbroker {

struct HttpRequest {
  std::string_view method;
  std::string_view target;   // as sent: may be an absolute URL
  std::string_view version;
  std::vector<std::pair<std::string_view, std::string_view>> headers;
  size_t headerLength = 0;   // request line, headers and the blank line
  size_t contentLength = 0;  // declared; 0 without the header
  std::string_view body;     // what arrived of it, at most contentLength
};

enum class ParseState { kIncomplete, kComplete, kMalformed };

inline constexpr size_t kMaxHeaderBytes = 64 * 1024;
inline constexpr size_t kMaxBodyBytes = 256 * 1024 * 1024;

// With final (the peer stopped sending), a request whose headers are complete
// counts as complete even when its body is shorter than declared.
ParseState ParseRequest(std::string_view data, bool final, HttpRequest* out);

// Header value by name, ignoring case; nullopt when absent.
std::optional<std::string_view> HeaderValue(const HttpRequest& request, std::string_view name);

// "/asys/Heartbeat.jsp" from "http://host:port/asys/Heartbeat.jsp?deviceSID=1".
std::string_view PathOf(std::string_view target);
// The text after the first '?', empty without one.
std::string_view QueryOf(std::string_view target);

// %XX escapes decoded; '+' and malformed escapes are kept as they stand.
std::string PercentDecode(std::string_view text);

using Query = std::vector<std::pair<std::string, std::string>>;
// Pairs split at '&' and the first '=', each side percent-decoded; empty
// items are skipped.
Query ParseQuery(std::string_view query);
// First value of key (exact), nullopt when absent.
std::optional<std::string> QueryValue(const Query& query, std::string_view key);

struct Upload {
  std::string fileName;   // as the form names it
  std::string_view content;
};

// The file part of a multipart/form-data body. The device ends its body with
// the last file byte, without a closing delimiter, so the part runs to the
// next delimiter or to the end of the body.
std::optional<Upload> FindUpload(std::string_view contentType, std::string_view body);

}  // namespace qvbroker
