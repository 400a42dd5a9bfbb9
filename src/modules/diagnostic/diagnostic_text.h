// The diagnostic module's texts: the operation list, the broker's relay
// proxy list, status codes in error lines, the verdicts, and the checks and
// escapes for what comes from a query, a proxy or the broker. Pure functions
// over their arguments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_escape.h"

// One relay proxy the broker listed: a dotted IPv4 host and a port.
struct RelayProxy {
  char host[16];  // at most 15 characters
  char port[6];   // at most 5 digits
  bool http_ok;
  bool protocol_ok;
};

// The names of a comma-separated list (cut to 127 characters), at most
// max_ops of them; *too_many tells whether more were given.
std::vector<std::string> SplitOperations(std::string_view list, size_t max_ops, bool* too_many);

// The broker's "yxproxies" detail: at most count "host:port" entries split
// at ';'. Entries that are no dotted address and port are skipped.
std::vector<RelayProxy> ParseProxyList(std::string_view list, int count);

// The status code after "HTTP/1.0 " (or else "HTTP/1.1 ") in an error line:
// blanks skipped, up to the next blank. Empty when there is none.
std::string StatusCodeOf(std::string_view error_line);

// A template name a caller may give: a plain file name, no "..", no path
// separator, no drive prefix.
bool IsPlainTemplateName(std::string_view name);
// A file a caller may upload: the debug-log set or one of its files, or a
// plain file name in the working directory.
bool IsUploadableName(std::string_view name);

// The query of a link that runs the same call again: every pair as it
// came, in order, but never the credentials (a link keeps them in the
// browser's history); "operation=conntest" when nothing is left.
std::string QueryWithoutCredentials(std::string_view query);

// Every occurrence of every secret (longest first) replaced by "*".
std::string Redact(std::string text, std::vector<std::string> secrets);

// "HTTP and Yxprotocol both Succeeded" and the three others.
const char* RelayVerdict(bool http_ok, bool protocol_ok);
// The verdict sentence for index 0 to 7 (HTTP 1 + broker 2 + secure 4);
// host goes in where the sentence names the site.
std::string VerdictText(int index, std::string_view host);
// The same as the page's "diagnosis" tag: red for the six that mean trouble.
std::string Diagnosis(int index, std::string_view host);

// Appends "host:port|~http|~protocol|^" to a PROXY_SUCCESS value, which
// never grows beyond 255 characters (the last entry may be cut).
void AppendProxySuccess(std::string& value, const RelayProxy& proxy);

// The leading decimal number of a text (0 when there is none), at most
// 1000000: a hostile count never overflows.
int LeadingNumber(std::string_view text);

// The public site of the HTTP tests when the query names none.
inline constexpr char kDefaultSite[] = "www.example.com";
