#include "base/query_for_log.h"

#include "base/ascii.h"

std::string QueryForLog(std::string_view query) {
  constexpr std::string_view kCreds = "creds=";
  // Modules read parameter names in any case: so is the name looked for.
  size_t creds = FindIgnoreCase(query, kCreds);
  if (creds == std::string_view::npos) return std::string(query);
  size_t colon = query.find(':', creds + kCreds.size());
  size_t end = colon != std::string_view::npos ? colon : creds + kCreds.size();
  return std::string(query.substr(0, end));
}
