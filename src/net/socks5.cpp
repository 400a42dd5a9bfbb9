#include "net/socks5.h"

namespace {

bool Begins(std::string_view reply, char first, char second) {
  return reply.size() >= 2 && reply[0] == first && reply[1] == second;
}

}  // namespace

std::string FormatSocksGreeting(bool with_credentials) {
  return std::string{'\x05', '\x01', with_credentials ? '\x02' : '\x00'};
}

std::optional<std::string> FormatSocksAuthRequest(std::string_view user,
                                                  std::string_view password) {
  if (user.size() > 255 || password.size() > 255) return std::nullopt;
  std::string request;
  request.push_back('\x01');
  request.push_back(static_cast<char>(user.size()));
  request.append(user);
  request.push_back(static_cast<char>(password.size()));
  request.append(password);
  return request;
}

std::string FormatSocksConnectRequest(const platform::Ipv4Address& address, int port) {
  std::string request{'\x05', '\x01', '\x00', '\x01'};
  for (uint8_t octet : address.octets) request.push_back(static_cast<char>(octet));
  request.push_back(static_cast<char>((port >> 8) & 0xFF));
  request.push_back(static_cast<char>(port & 0xFF));
  return request;
}

std::optional<SocksCredentials> SplitSocksCredentials(std::string_view credentials) {
  size_t colon = credentials.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return SocksCredentials{credentials.substr(0, colon), credentials.substr(colon + 1)};
}

SocksMethodReply JudgeSocksMethodReply(std::string_view reply) {
  if (Begins(reply, '\x05', '\x02')) return SocksMethodReply::kUsernamePassword;
  if (Begins(reply, '\x05', '\x00')) return SocksMethodReply::kNoAuthentication;
  return SocksMethodReply::kRefused;
}

bool SocksAuthAccepted(std::string_view reply) { return Begins(reply, '\x01', '\x00'); }

bool SocksConnectAcknowledged(std::string_view reply) { return Begins(reply, '\x05', '\x00'); }

int SocksReplyFirstByte(std::string_view reply) {
  return reply.empty() ? -1 : static_cast<signed char>(reply[0]);
}

int SocksReplySecondByte(std::string_view reply) {
  return reply.size() < 2 ? -1 : static_cast<unsigned char>(reply[1]);
}
