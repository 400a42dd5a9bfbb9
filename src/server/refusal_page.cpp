#include "server/refusal_page.h"

#include <cstring>

#include "base/text_escape.h"
#include "platform/socket.h"
#include "server/status_line.h"

namespace {

constexpr char kLocalBrowser[] = "127.0.0.1";

}  // namespace

std::string RefusalPage(int status_index, std::string_view why) {
  const char* status = StatusLine(status_index);
  if (status == nullptr) return {};
  const std::string body =
      std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>") + status +
      "</title></head><body><h1>" + status + "</h1><p>" + HtmlEscape(why) +
      "</p><p><a href=\"/index.html\">Start page</a></p>" + "</body></html>\n";
  return std::string("HTTP/1.0 ") + status +
         "\nContent-Type: text/html; charset=utf-8\nCache-Control: no-store\nContent-Length: " +
         std::to_string(body.size()) + "\n\n" + body;
}

bool ExplainRefusal(tagREQUEST* request, int status_index, std::string_view why) {
  if (std::strcmp(request->szRemoteAddr, kLocalBrowser) != 0) return false;
  const std::string page = RefusalPage(status_index, why);
  return !page.empty() && platform::Send(request->hSocket, page).ok();
}
