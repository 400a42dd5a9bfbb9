// The HTTP proxy's answer to a CONNECT request, as the tunnel judges it: by
// substring, in the order below. The negotiation itself is
// QvNetUtil::EstablishProxyConnect.
#pragma once

#include <string_view>

enum class TunnelReply {
  kEstablished,          // a 200 status line (also with two blanks before 200)
  kCredentialsRequired,  // 407
  kForbidden,            // 403
  kProxyError,           // 502
  kOther,                // anything else, including no reply at all
};

// reply is the text received (empty when nothing came).
TunnelReply JudgeConnectReply(std::string_view reply);
