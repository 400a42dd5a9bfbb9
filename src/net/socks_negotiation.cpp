// EstablishSocksConnect: one SOCKS 5 negotiation on a connected socket, as a
// small state machine (resolve, greet, authenticate, connect, report).
#include <cstring>
#include <optional>
#include <string>

#include "base/log.h"
#include "base/settings.h"
#include "net/answer_chunks.h"
#include "net/link_report.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/proxy_report.h"
#include "net/socks5.h"

namespace {

constexpr int kBufferSize = 1024;

class SocksNegotiation {
 public:
  SocksNegotiation(QvNetUtil& util, const char* host, int port, const char* creds,
                   platform::SocketDescriptor socket)
      : util_(util),
        host_(host != nullptr ? host : ""),
        port_(port),
        offer_credentials_(creds != nullptr && *creds != '\0'),
        socket_(socket) {}

  bool Run() {
    State state = State::kResolve;
    while (state != State::kDone) {
      switch (state) {
        case State::kResolve: state = DoResolve(); break;
        case State::kGreet: state = DoGreet(); break;
        case State::kAuthenticate: state = DoAuthenticate(); break;
        case State::kConnect: state = DoConnect(); break;
        case State::kReportFailure: state = DoReportFailure(); break;
        case State::kReportSuccess: state = DoReportSuccess(); break;
        case State::kDone: break;
      }
    }
    return acknowledged_;
  }

 private:
  enum class State {
    kResolve,
    kGreet,
    kAuthenticate,
    kConnect,
    kReportFailure,
    kReportSuccess,
    kDone
  };

  // Sends message and keeps what came back (nothing after a failure).
  std::string_view Exchange(const std::string& message) {
    std::memcpy(buffer_, message.data(), message.size());
    sent_size_ = message.size();
    int received =
        util_.SendRecvBuffer(socket_, buffer_, static_cast<int>(message.size()), kBufferSize);
    reply_ = std::string_view(buffer_, received > 0 ? static_cast<size_t>(received) : 0);
    return reply_;
  }

  State DoResolve() {
    QvLog* log = QvLog::GetInstance();
    if (std::optional<platform::Ipv4Address> dotted = platform::ParseDottedIPv4(host_)) {
      address_ = *dotted;
      return State::kGreet;
    }
    log->Write("in inaddr_none", 3);
    platform::SysResult<platform::Ipv4Address> resolved = platform::ResolveIPv4(host_);
    if (!resolved.ok()) {
      log->WriteNumber("gethostbyname error: ", resolved.error, 1);
      NoteProxyRefusal("not asked: " + host_ + " does not resolve");
      return State::kDone;
    }
    address_ = resolved.value;
    return State::kGreet;
  }

  State DoGreet() {
    std::string_view reply = Exchange(FormatSocksGreeting(offer_credentials_));
    switch (JudgeSocksMethodReply(reply)) {
      case SocksMethodReply::kUsernamePassword: return State::kAuthenticate;
      case SocksMethodReply::kNoAuthentication: return State::kConnect;
      case SocksMethodReply::kRefused: break;
    }
    NoteProxyRefusal(reply.empty() ? "gave no SOCKS 5 answer"
                                   : "refused every way of logging in that was offered");
    QvLog::GetInstance()->WriteNumber(
        "EstablishSocksConnect got nak from proxy on connect: ", SocksReplyFirstByte(reply), 3);
    return State::kDone;
  }

  State DoAuthenticate() {
    const std::string credentials = ReadProxySnapshot().credentials;
    std::optional<SocksCredentials> split = SplitSocksCredentials(credentials);
    std::optional<std::string> request;
    if (split) request = FormatSocksAuthRequest(split->user, split->password);
    if (!request) {
      QvLog::GetInstance()->Write("EstablishSocksConnect: Creds null", 3);
      NoteProxyRefusal("asks for a user name and password");
      return State::kDone;
    }
    // A refused authentication is left for the connect to show.
    if (SocksAuthAccepted(Exchange(*request))) {
      QvLog::GetInstance()->Write("EstablishSocksConnect: authed username/password", 3);
    } else {
      auth_refused_ = true;
    }
    return State::kConnect;
  }

  State DoConnect() {
    QvLog* log = QvLog::GetInstance();
    std::string_view reply = Exchange(FormatSocksConnectRequest(address_, port_));
    if (SocksConnectAcknowledged(reply)) {
      log->Write("EstablishSocksConnect(): ack", 3);
      SetTunnelEstablished();
      acknowledged_ = true;
      return State::kReportSuccess;
    }
    log->Write("!!!>>>EstablishSocksConnect(): nak<<<!!!", 3);
    int detail = SocksReplySecondByte(reply);
    if (auth_refused_) {
      NoteProxyRefusal("did not accept the user name and password");
    } else if (reply.empty()) {
      NoteProxyRefusal("gave no answer to the SOCKS connect request");
    } else {
      NoteProxyRefusal("would not connect to " + host_ + ":" + std::to_string(port_) +
                       " (SOCKS reply " + std::to_string(detail) + ")");
    }
    if (detail == 1) {
      log->Write("\tGSSAPI auth required", 3);
    } else if (detail == 2) {
      log->Write("\tUsernamePassword auth required", 3);
      SetCredentialsNeeded();
    } else {
      log->WriteNumber("\tauth required response", detail, 3);
    }
    return State::kReportFailure;
  }

  // With no reply the exchange buffer still holds what was sent, and the
  // broker hears that, as text.
  State DoReportFailure() {
    std::string_view reply =
        reply_.empty() ? ChunkText(buffer_, sent_size_) : ChunkText(reply_.data(), reply_.size());
    std::string text = CredentialsNeeded() ? std::string("creds needed") : std::string(reply);
    ReportProxy("util estbSocks", "socks", text.c_str(), false);
    return State::kDone;
  }

  // Only while proxyRecorded is present with an empty value.
  State DoReportSuccess() {
    QvSettings* settings = QvSettings::GetInstance();
    if (settings->GetSetting("proxyRecorded")) return State::kDone;
    if (settings->DeviceSID() != "None") return State::kDone;
    const char* text = CredentialsNeeded() ? "creds needed" : "OK";
    if (ReportProxy("util estbSocks 2", "socks", text, false)) {
      settings->WriteSetting("proxyRecorded", "1");
    }
    return State::kDone;
  }

  QvNetUtil& util_;
  const std::string host_;
  const int port_;
  const bool offer_credentials_;
  const platform::SocketDescriptor socket_;
  platform::Ipv4Address address_{};
  char buffer_[kBufferSize] = {};
  std::string_view reply_;
  size_t sent_size_ = 0;
  bool acknowledged_ = false;
  bool auth_refused_ = false;
};

}  // namespace

bool QvNetUtil::EstablishSocksConnect(const char* host, int port, const char* creds,
                                      platform::SocketDescriptor socket) {
  return SocksNegotiation(*this, host, port, creds, socket).Run();
}
