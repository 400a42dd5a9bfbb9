#include "answer.h"

namespace qvbroker {
namespace {

struct StatusText {
  int status;
  std::string_view name;
  std::string_view description;
};

constexpr StatusText kStatusTexts[] = {
    {200, "OK", "Request completed"},
    {400, "BadRequest", "The request is incomplete"},
    {401, "AlreadyLoggedIn", "The device is already logged in"},
    {404, "NotFound", "The device is not logged in or the page is unknown"},
    {500, "ServerError", "The broker failed"},
};

}  // namespace

std::string BrokerBody(int status, std::string_view details) {
  std::string_view name = "Status";
  std::string_view description = "Broker status";
  for (const auto& text : kStatusTexts) {
    if (text.status == status) {
      name = text.name;
      description = text.description;
    }
  }
  std::string body;
  body.append("StatusCode=").append(std::to_string(status)).append("\r\n");
  body.append("Name=").append(name).append("\r\n");
  body.append("Description=").append(description).append("\r\n");
  body.append("Details=").append(details).append("\r\n");
  return body;
}

std::string_view ReasonPhrase(int code) {
  switch (code) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

std::string HttpResponse(int code, std::string_view contentType, std::string_view body,
                         std::string_view server) {
  std::string out;
  out.reserve(body.size() + 160);
  out.append("HTTP/1.1 ").append(std::to_string(code)).append(" ").append(ReasonPhrase(code));
  out.append("\r\nServer: ").append(server);
  out.append("\r\nContent-Type: ").append(contentType);
  out.append("\r\nContent-Length: ").append(std::to_string(body.size()));
  out.append("\r\nConnection: close\r\n\r\n");
  out.append(body);
  return out;
}

}  // namespace qvbroker
