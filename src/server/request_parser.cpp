#include "server/request_parser.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "base/ascii.h"
#include "base/bounded_copy.h"
#include "base/log.h"
#include "server/server_state.h"

namespace {

constexpr size_t kMaxEnvEntry = 1024;
constexpr std::string_view kFileListPrefix = "GET /QvShareModule.dll?filelist=";
constexpr size_t kFileListCompared = 31;
constexpr std::string_view kQueryEntry = "QUERY_STRING=";
constexpr std::string_view kAbsolute = "http://";

// Only the share module's file list may be longer, and only when it is
// percent-encoded (its first '%' starts an escape).
bool IsLongFileList(std::string_view text) {
  if (text.substr(0, kFileListCompared) != kFileListPrefix.substr(0, kFileListCompared)) {
    return false;
  }
  size_t percent = text.find('%');
  return percent != std::string_view::npos && percent + 1 < text.size() &&
         std::isalnum(static_cast<unsigned char>(text[percent + 1]));
}

// Splits at blanks and line feeds like strtok, terminating each token in
// place; a carriage return stays part of its token.
class Tokens {
 public:
  Tokens(char* text, size_t length) : next_(text), end_(text + length) {}

  char* Next() {
    while (next_ < end_ && IsDelimiter(*next_)) ++next_;
    if (next_ == end_) return nullptr;
    char* token = next_;
    while (next_ < end_ && !IsDelimiter(*next_)) ++next_;
    if (next_ < end_) *next_++ = '\0';
    return token;
  }

 private:
  static bool IsDelimiter(char c) { return c == ' ' || c == '\n'; }
  char* next_;
  char* end_;
};

int BadRequest(std::string_view why) {
  QvLog::GetInstance()->Write(why, 3);
  return kParseBadRequest;
}

}  // namespace

int ParseRequest(tagREQUEST* request, char* text) {
  return ParseRequest(request, text, TheServerState().szWebRoot);
}

int ParseRequest(tagREQUEST* request, char* text, std::string_view web_root) {
  QvLog* log = QvLog::GetInstance();
  const size_t length = std::strlen(text);
  // Browsers send several hundred bytes of header lines (cookies among
  // them): only the request line counts against the limit.
  const size_t line_length = std::strcspn(text, "\n");
  const bool long_text = line_length > kMaxRequestLine;
  if (long_text && !IsLongFileList(std::string_view(text, length))) {
    return BadRequest(" Error: QV_HTTP_STATUS_BADREQUEST - excessive");
  }

  Tokens tokens(text, length);
  char* method = tokens.Next();
  if (method == nullptr || !EqualsIgnoreCase(method, "GET")) {
    log->Write("Error: QV_HTTP_STATUS_NOTIMPLEMENTED", 3);
    return kParseNotGet;
  }
  request->szMethod = method;
  char* path = tokens.Next();
  if (path == nullptr) return BadRequest(" Error: QV_HTTP_STATUS_BADREQUEST");

  std::memset(request->szEnvBlock, 0, sizeof request->szEnvBlock);
  request->szQueryString = nullptr;
  if (char* question = std::strchr(path, '?')) {
    *question = '\0';
    request->szQueryString = question + 1;
    const size_t entry_size = kQueryEntry.size() + std::strlen(request->szQueryString);
    if (entry_size > kMaxEnvEntry && !long_text) {
      return BadRequest(" Error: QV_HTTP_STATUS_BADREQUEST");
    }
    // The entry and the closing empty string must fit the block.
    if (entry_size + 2 > sizeof request->szEnvBlock) {
      return BadRequest(" Error: QV_HTTP_STATUS_BADREQUEST - query too long");
    }
    std::memcpy(request->szEnvBlock, kQueryEntry.data(), kQueryEntry.size());
    std::memcpy(request->szEnvBlock + kQueryEntry.size(), request->szQueryString,
                entry_size - kQueryEntry.size());
  }

  CopyBounded(request->szFilePath, web_root);

  if (std::strncmp(path, kAbsolute.data(), kAbsolute.size()) == 0) {
    char* slash = std::strchr(path + kAbsolute.size(), '/');
    if (slash == nullptr) {
      log->WriteString("Error: malformed remote request beginning: ", path + kAbsolute.size(), 3);
      return kParseBadRequest;
    }
    path = slash;
  }
  // The path is appended to the web root as it stands: without its leading
  // '/', "x/file" would name a file of a sibling directory "<root>x".
  if (path[0] != '/') {
    return BadRequest(" Error: QV_HTTP_STATUS_BADREQUEST - path outside the root");
  }

  std::string_view uri = path;
  if (!uri.empty() && uri.front() == '/') uri.remove_prefix(1);
  std::string_view tail = std::strlen(path) > 1 ? std::string_view(path) : "/index.html";
  if (uri.size() >= sizeof request->szUri ||
      !AppendBounded(request->szFilePath, sizeof request->szFilePath, tail)) {
    return BadRequest(" Error: QV_HTTP_STATUS_BADREQUEST - path too long");
  }
  CopyBounded(request->szUri, uri);

  if (std::strstr(request->szFilePath, "..") != nullptr) return kParseBadRequest;
  return long_text ? kParseLongFileList : kParseOk;
}
