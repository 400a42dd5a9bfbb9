// Building the bytes qvbroker sends back: the broker's four-line answer body
// and the HTTP envelope around any body.
#pragma once

#include <string>
#include <string_view>

namespace qvbroker {

inline constexpr std::string_view kBrokerServer = "Resin/3.0";

// "StatusCode=<status>", "Name=<name>", "Description=<description>",
// "Details=<details>", each ended by CR LF. The device finds the values by
// counting '=' signs, so name and description must not contain one.
std::string BrokerBody(int status, std::string_view details = {});

// Status line, Server, Content-Type, Content-Length, Connection: close, the
// blank line and the body, in one buffer so that the device reads the
// headers and the body in one chunk.
std::string HttpResponse(int code, std::string_view contentType, std::string_view body,
                         std::string_view server = kBrokerServer);

std::string_view ReasonPhrase(int code);

}  // namespace qvbroker
