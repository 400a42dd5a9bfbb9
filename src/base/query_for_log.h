// Queries may carry proxy credentials ("creds=user:password"); what reaches
// the log stops before the password.
#pragma once

#include <string>
#include <string_view>

// The query up to the first ':' after "creds=" (in any case), or up to and
// including "creds=" when no ':' follows; the whole query when it has no
// credentials.
std::string QueryForLog(std::string_view query);
