#include <string>

#include "platform/socket.h"
#include "server/status_line.h"

namespace {

constexpr const char* kStatusLines[kStatusLineCount] = {
    "200 OK",
    "201 Created",
    "202 Accepted",
    "204 No Content",
    "301 Moved Permanently",
    "302 Moved Temporarily",
    "304 Not Modified",
    "400 Bad Request",
    "401 Unauthorized",
    "403 Forbidden",
    "404 Not Found",
    "500 Internal Server Error",
    "501 Not Implemented",
    "502 Bad Gateway",
    "503 Service Unavailable",
};

}  // namespace

const char* StatusLine(int index) {
  if (index < 0 || index >= kStatusLineCount) return nullptr;
  return kStatusLines[index];
}

namespace {

std::string Body(const char* status) {
  return std::string("<body><h1>").append(status).append("</h1></body>");
}

}  // namespace

void SendErrorBody(tagREQUEST* request, int index) {
  const char* status = StatusLine(index);
  if (status == nullptr) return;
  // Browsers refuse an answer without a status line on most ports.
  std::string answer = "HTTP/1.0 ";
  answer.append(status).append("\nContent-Type: text/html\n\n").append(Body(status));
  platform::Send(request->hSocket, answer);
}

void AppendErrorBody(tagREQUEST* request, int index) {
  const char* status = StatusLine(index);
  if (status == nullptr) return;
  platform::Send(request->hSocket, Body(status));
}
