// ServerState: what the local web server knows process-wide. Written by
// StartHTTP before any connection thread runs, read-only afterwards.
#pragma once

#include <string_view>

struct ServerState {
  char szWebRoot[260];  // prepended to every request path
};

ServerState& TheServerState();

// Sets the web root ("/WebPages" when empty). False when it does not fit.
bool SetWebRoot(std::string_view root);
