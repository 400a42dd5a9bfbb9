// Request texts reach the log at trace level; the proxy credentials in them
// must not.
#pragma once

#include <string>
#include <string_view>

// text with the value of every "Proxy-Authorization:" line replaced by "*".
std::string HideCredentials(std::string_view text);

// True for the SOCKS 5 username/password message (version byte 1), which
// carries the password in the clear.
bool IsSocksPasswordMessage(std::string_view message);
