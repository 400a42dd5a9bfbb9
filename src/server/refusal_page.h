// A refusal in words for this machine's own browser (127.0.0.1): which
// setting, in which vane.ini, keeps the request out, so that a person who
// opens a page that is not served learns what to change. Any other caller
// learns nothing: its connection is closed without an answer, as always.
#pragma once

#include <string>
#include <string_view>

#include "module/QvPeerModule.h"

// The answer's bytes: the status line, headers and a short page whose text
// is why (escaped). status_index as StatusLine counts.
std::string RefusalPage(int status_index, std::string_view why);
// Sends it when the caller is 127.0.0.1; true when it was sent.
bool ExplainRefusal(tagREQUEST* request, int status_index, std::string_view why);
