// Where a request says it comes from, as browsers tell it: the Host header
// (the name the page used to reach us) and Sec-Fetch-Site (whether the page
// that sent it belongs to another site). A name that is not ours means a
// page reached us through a DNS answer it controls; a cross-site module call
// is some other page firing our state-changing GETs. Clients that send
// neither header (curl, scripts, older programs) are not judged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct RequestOrigin {
  std::optional<std::string> host;        // the Host header's value
  std::optional<std::string> fetch_site;  // the Sec-Fetch-Site header's value
};

// Pure: the header lines after the request line, up to the blank line or
// the end of text; names compared without case, values trimmed of blanks.
RequestOrigin ReadRequestOrigin(std::string_view text);

// True when host (with or without a ":port") is an IP literal, "localhost"
// or own_name (without case, a trailing dot allowed). An empty host passes.
bool HostNamesThisMachine(std::string_view host, std::string_view own_name);

// Why a request must be refused, or empty when it may go on.
std::string RefusalReason(const RequestOrigin& origin, bool module_call, std::string_view own_name);
