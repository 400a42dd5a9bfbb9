// EstablishProxyConnect: a CONNECT tunnel through an HTTP proxy, as a small
// state machine (send, receive, learn the proxy's name, judge, report).
#include "net/proxy_tunnel.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>

#include "base/log.h"
#include "base/settings.h"
#include "net/answer_chunks.h"
#include "net/header_line.h"
#include "net/hide_credentials.h"
#include "net/link_report.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/proxy_report.h"
#include "net/request_templates.h"
#include "platform/file.h"
#include "platform/socket.h"

namespace {

bool HasAny(std::string_view text, std::initializer_list<std::string_view> needles) {
  for (std::string_view needle : needles) {
    if (text.find(needle) != std::string_view::npos) return true;
  }
  return false;
}

constexpr int kBufferSize = 1024;

class TunnelNegotiation {
 public:
  TunnelNegotiation(QvNetUtil& util, const char* host, int port, const char* creds,
                    platform::SocketDescriptor socket)
      : util_(util),
        host_(host != nullptr ? host : ""),
        port_(port),
        creds_(creds != nullptr ? creds : ""),
        socket_(socket) {}

  bool Run() {
    State state = State::kSend;
    while (state != State::kDone) {
      switch (state) {
        case State::kSend: state = DoSend(); break;
        case State::kReceive: state = DoReceive(); break;
        case State::kLearn: state = DoLearn(); break;
        case State::kJudge: state = DoJudge(); break;
        case State::kReport: state = DoReport(); break;
        case State::kDone: break;
      }
    }
    return established_;
  }

 private:
  enum class State { kSend, kReceive, kLearn, kJudge, kReport, kDone };

  State DoSend() {
    QvLog* log = QvLog::GetInstance();
    request_ = FormatConnectRequest(host_, port_, SelectedAgent(), creds_);
    if (!platform::Send(socket_, request_).ok()) {
      log->Write("ConnectRequest(): error on GET send", 1);
      return State::kDone;
    }
    log->WriteString("EstablishProxyConnect() sent", HideCredentials(request_), 3);
    log->Write("EstablishProxyConnect read", 3);
    return State::kReceive;
  }

  State DoReceive() {
    QvLog* log = QvLog::GetInstance();
    platform::SysResult<long> received = platform::Receive(socket_, buffer_, kBufferSize - 1);
    if (!received.ok()) {
      log->WriteNumber("EstablishProxyConnect(): recv error, nRet", -1, 3);
      NoteProxyRefusal(platform::IsTimeoutError(received.error)
                           ? TimeoutReason() + " to CONNECT"
                           : "CONNECT failed: " + platform::ErrorText(received.error));
    } else if (received.value == 0) {
      log->Write("EstablishProxyConnect(): recv returns 0, graceful closure", 3);
      NoteProxyRefusal("closed the connection without answering CONNECT");
    } else {
      buffer_[received.value] = '\0';
      reply_ = ChunkText(buffer_, static_cast<size_t>(received.value));
      log->WriteNumber("EstablishProxyConnect(): nRet: ", received.value, 3);
      log->WriteString("Buffer: ", reply_, 3);
    }
    return State::kLearn;
  }

  // Whatever the status: the proxy said who it is.
  State DoLearn() {
    std::optional<std::string> name = ExtractHeaderLine(reply_, "Server");
    if (!name) name = ExtractHeaderLine(reply_, "Via");
    if (name) SetProxyServerName(*name);
    return State::kJudge;
  }

  State DoJudge() {
    QvLog* log = QvLog::GetInstance();
    switch (JudgeConnectReply(reply_)) {
      case TunnelReply::kEstablished:
        SetTunnelEstablished();
        established_ = true;
        break;
      case TunnelReply::kCredentialsRequired:
        NoteProxyRefusal(creds_.empty() ? "asks for a user name and password (407)"
                                        : "did not accept the user name and password (407)");
        SetCredentialsNeeded();
        log->Write("!!!>>>EstablishProxyConnect(): Creds needed<<<!!!", 3);
        util_.SaveErrorLine(reply_);
        break;
      case TunnelReply::kForbidden:
        NoteProxyRefusal("refuses the way to " + Target() + " (403)");
        log->WriteString("======!!!Forbidden Server!!!======>", host_, 3);
        util_.SaveErrorLine(reply_);
        break;
      case TunnelReply::kProxyError:
        NoteProxyRefusal("could not reach " + Target() + " (502)");
        log->WriteString("======!!!Proxy Error !!!======>", host_, 3);
        util_.SaveErrorLine(reply_);
        break;
      case TunnelReply::kOther:
        if (!reply_.empty()) {
          NoteProxyRefusal("answered CONNECT with \"" +
                           std::string(reply_.substr(0, std::min<size_t>(reply_.find('\n'), 80))) +
                           "\"");
        }
        SetTunnelEstablished();
        break;
    }
    return State::kReport;
  }

  // Once per installation, and on success only while unregistered.
  State DoReport() {
    QvSettings* settings = QvSettings::GetInstance();
    const std::string recorded = settings->ProxyRecorded();
    if (established_ && settings->DeviceSID() != "None") return State::kDone;
    if (recorded == "1") return State::kDone;
    std::string proxy_id = ProxyServerName();
    if (proxy_id.empty()) proxy_id = "http";
    // With no reply the receive buffer still holds the request, and the
    // broker hears its beginning (never as far as the credentials).
    const std::string reply(reply_.empty() ? std::string_view(request_) : reply_);
    if (ReportProxy("util estbProxy", proxy_id.c_str(), reply.c_str(), false)) {
      settings->WriteSetting("proxyRecorded", "1");
    }
    return State::kDone;
  }

  std::string Target() const { return host_ + ":" + std::to_string(port_); }

  QvNetUtil& util_;
  const std::string host_;
  const int port_;
  const std::string creds_;
  const platform::SocketDescriptor socket_;
  char buffer_[kBufferSize] = {};
  std::string request_;
  std::string_view reply_;
  bool established_ = false;
};

}  // namespace

TunnelReply JudgeConnectReply(std::string_view reply) {
  if (HasAny(reply, {"HTTP/1.0 200", "HTTP/1.1 200", "HTTP/1.0  200", "HTTP/1.1  200"})) {
    return TunnelReply::kEstablished;
  }
  if (HasAny(reply, {"HTTP/1.0 407", "HTTP/1.1 407"})) return TunnelReply::kCredentialsRequired;
  if (HasAny(reply, {"HTTP/1.0 403", "HTTP/1.1 403"})) return TunnelReply::kForbidden;
  if (HasAny(reply, {"HTTP/1.0 502", "HTTP/1.1 502"})) return TunnelReply::kProxyError;
  return TunnelReply::kOther;
}

bool QvNetUtil::EstablishProxyConnect(const char* host, int port, const char* creds,
                                      platform::SocketDescriptor socket) {
  return TunnelNegotiation(*this, host, port, creds, socket).Run();
}
