// The request texts the device writes, byte for byte. Lines end with a bare
// line feed (only multipart bodies use CR LF). Without proxy credentials
// the line before the final empty line is a single blank.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view kUploadBoundary = "------------~!#~!#~!#~!#";
inline constexpr size_t kProbeSize = 12;
inline constexpr size_t kProbeTextSize = 7;

// What a request through an HTTP proxy carries beyond a direct one.
struct RequestRoute {
  std::string url_prefix;   // "http://host:port" through a proxy, else empty
  bool pragma = false;      // "Pragma: no-cache" through a proxy
  std::string credentials;  // Base64 for "Proxy-Authorization: Basic", or empty
};

// "http://host:port", the absolute-URL prefix of a request via a proxy.
std::string AbsoluteUrlPrefix(std::string_view host, int port);

std::string FormatGetRequest(const RequestRoute& route, std::string_view path,
                             std::string_view agent);
// The GET written inside TLS; it names "SSL/3.1" as its protocol.
std::string FormatSecureGetRequest(const RequestRoute& route, std::string_view path,
                                   std::string_view agent);
// The multipart POST header; page is the path before its '?'.
std::string FormatUploadHeader(const RequestRoute& route, std::string_view page,
                               std::string_view agent, std::string_view host,
                               int64_t content_length);
// The CONNECT request of a proxy tunnel; the agent goes without version.
std::string FormatConnectRequest(std::string_view host, int port, std::string_view agent,
                                 std::string_view credentials);
// The protocol probe: the first kProbeTextSize bytes of text, then zeros.
std::array<char, kProbeSize> FormatProbe(const char* text);
