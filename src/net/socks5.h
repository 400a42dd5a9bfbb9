// SOCKS 5 (RFC 1928) with the username/password method (RFC 1929): the
// messages the device sends and how it reads the proxy's replies. A reply
// is judged only on the bytes actually received; a short or missing reply
// is never taken as an acceptance. The negotiation itself is
// QvNetUtil::EstablishSocksConnect.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ipv4_connect.h"

enum class SocksMethodReply {
  kNoAuthentication,  // 05 00
  kUsernamePassword,  // 05 02
  kRefused,           // anything else, or fewer than two bytes
};

// 05 01 02 when credentials are offered, else 05 01 00.
std::string FormatSocksGreeting(bool with_credentials);
// 01, ULEN, user, PLEN, password; none when either is longer than 255.
std::optional<std::string> FormatSocksAuthRequest(std::string_view user, std::string_view password);
// 05 01 00 01, the four address bytes, the port high byte first (10 bytes).
std::string FormatSocksConnectRequest(const platform::Ipv4Address& address, int port);

// "user:password" split at its first ':'; none without a ':'.
struct SocksCredentials {
  std::string_view user;
  std::string_view password;
};
std::optional<SocksCredentials> SplitSocksCredentials(std::string_view credentials);

// reply holds the bytes received (empty after a failed exchange).
SocksMethodReply JudgeSocksMethodReply(std::string_view reply);
bool SocksAuthAccepted(std::string_view reply);
bool SocksConnectAcknowledged(std::string_view reply);
// The reply's first byte as a signed number; -1 when nothing came.
int SocksReplyFirstByte(std::string_view reply);
// The reply's second byte (what a refusal names); -1 when it did not come.
int SocksReplySecondByte(std::string_view reply);
