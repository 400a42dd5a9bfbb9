#include "net/request_templates.h"

#include <cstring>

#include "net/outbound_state.h"

namespace {

constexpr std::string_view kAuthLabel = "Proxy-Authorization: Basic";

// The two lines every GET and POST ends with: the Pragma line or nothing,
// then the authorization label and credentials around one blank.
std::string Tail(const RequestRoute& route) {
  std::string tail;
  if (route.pragma) tail.append("Pragma: no-cache\n");
  if (!route.credentials.empty()) tail.append(kAuthLabel);
  tail.append(" ").append(route.credentials).append("\n\n");
  return tail;
}

std::string Get(const RequestRoute& route, std::string_view path, std::string_view agent,
                std::string_view protocol) {
  std::string text("GET ");
  text.append(route.url_prefix).append(path).append(" ").append(protocol).append("\n");
  text.append("User-Agent: ").append(agent).append("/").append(kProductVersion).append("\n");
  return text.append(Tail(route));
}

}  // namespace

std::string AbsoluteUrlPrefix(std::string_view host, int port) {
  std::string prefix("http://");
  return prefix.append(host).append(":").append(std::to_string(port));
}

std::string FormatGetRequest(const RequestRoute& route, std::string_view path,
                             std::string_view agent) {
  return Get(route, path, agent, "HTTP/1.0");
}

std::string FormatSecureGetRequest(const RequestRoute& route, std::string_view path,
                                   std::string_view agent) {
  return Get(route, path, agent, "SSL/3.1");
}

std::string FormatUploadHeader(const RequestRoute& route, std::string_view page,
                               std::string_view agent, std::string_view host,
                               int64_t content_length) {
  std::string text("POST ");
  text.append(route.url_prefix).append(page).append(" HTTP/1.1\n");
  text.append("User-Agent: ").append(agent).append("/").append(kProductVersion).append("\n");
  text.append("Host: ").append(host).append("\n");
  text.append("Content-Length: ").append(std::to_string(content_length)).append("\n");
  text.append("Content-Type: multipart/form-data; boundary=").append(kUploadBoundary).append("\n");
  text.append("Connection: Keep-Alive\nCache-Control: no-cache\n");
  return text.append(Tail(route));
}

std::string FormatConnectRequest(std::string_view host, int port, std::string_view agent,
                                 std::string_view credentials) {
  std::string text("CONNECT ");
  text.append(host).append(":").append(std::to_string(port)).append(" HTTP/1.0\n");
  text.append("User-Agent: ").append(agent).append("\nPragma: no-cache\n");
  // Without credentials the header already ends its last line: one more
  // line feed only, or the proxy forwards the spare one into the tunnel
  // ahead of the TLS handshake.
  if (credentials.empty()) return text.append("\n");
  return text.append("Proxy-Authorization: Basic ").append(credentials).append("\n\n");
}

std::array<char, kProbeSize> FormatProbe(const char* text) {
  std::array<char, kProbeSize> probe{};
  std::memcpy(probe.data(), text, kProbeTextSize);
  return probe;
}
