// ConnectRequest: route selection, connection, the optional SOCKS, CONNECT
// and TLS layers, the request, the reading loop, proxy discovery and the
// cleanup, for one outbound request.
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "base/bounded_copy.h"
#include "base/log.h"
#include "base/url_decode.h"
#include "net/answer_chunks.h"
#include "net/header_line.h"
#include "net/hide_credentials.h"
#include "net/link_report.h"
#include "net/net_util.h"
#include "net/outbound_state.h"
#include "net/proxy_report.h"
#include "net/request_deadline.h"
#include "net/request_record.h"
#include "net/request_templates.h"
#include "net/tls_client.h"
#include "net/upload_files.h"
#include "platform/file.h"
#include "platform/ipv4_connect.h"
#include "platform/socket.h"

namespace {

constexpr size_t kBufferSize = 64000;
// The whole answer is kept in memory; a peer that sends more fails the
// request instead of exhausting the process.
constexpr size_t kMaxAnswerBytes = 16 * 1024 * 1024;
constexpr int kLingerSeconds = 30;

LinkFailureKind LinkKind(int connect_error) {
  switch (platform::ClassifyConnectError(connect_error)) {
    case platform::ConnectError::kRefused: return LinkFailureKind::kRefused;
    case platform::ConnectError::kTimedOut: return LinkFailureKind::kTimedOut;
    case platform::ConnectError::kAbandoned:
    case platform::ConnectError::kOther: break;
  }
  return LinkFailureKind::kOther;
}

// How the sending stage ended.
enum class Sent {
  kOk,         // go on: hand over, read or finish with the send result
  kFailed,     // result -1, full cleanup
  kTlsFailed,  // result -1, cleanup without proxy discovery
  kAbandoned,  // the GET could not be sent: close and return -1 at once
};

class OutboundRequest {
 public:
  OutboundRequest(QvNetUtil& util, const char* host, int port, const char* path,
                  std::string* response, tagREQUEST* request, bool secure, bool tunnel, bool raw,
                  int mode, bool upload)
      : util_(util),
        host_(host != nullptr ? host : ""),
        port_(port),
        path_(path != nullptr ? path : ""),
        raw_path_(path),
        response_(response),
        request_(request),
        secure_(secure),
        tunnel_(tunnel),
        raw_(raw),
        mode_(mode),
        upload_(upload) {}

  int Run() {
    const int result = RunSteps();
    StopDeadline();
    // Whatever the aborted socket made each step report, the stop is why.
    if (result == -1 && stopped_) NoteRequestFailure(host_, port_, kStoppedReason);
    // Every failure has its reason in words; this one names the server at least.
    if (result == -1 && LastLinkFailure().empty()) NoteServerFailure("the request failed");
    return result;
  }

 private:
  int RunSteps() {
    QvLog* log = QvLog::GetInstance();
    log->Write("ConnectRequest()", 3);
    deadline_at_ =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(OutboundDeadline());
    NoteLinkReached();
    if (secure_ && !tls_.CreateContext()) {
      NoteRequestFailure(host_, port_,
                         LastTlsFailure().empty() ? "TLS could not be set up" : LastTlsFailure());
      return -1;
    }
    platform::ClearLastSocketError();
    ChooseRoute();
    if (!Connect()) return -1;

    bool discover = true;
    switch (secure_ ? SendSecure() : SendPlain()) {
      case Sent::kAbandoned:
        StopDeadline();
        platform::CloseSocket(socket_);
        return -1;
      case Sent::kFailed: result_ = -1; break;
      case Sent::kTlsFailed:
        result_ = -1;
        discover = false;
        if (deadline_->expired()) NoteServerFailure(DeadlineReason());
        break;
      case Sent::kOk:
        if (request_ != nullptr && !upload_) {
          StopDeadline();  // the caller's from here on
          request_->hSocket = socket_;
          log->Write("Completed ConnectRequest, returning socket", 3);
          tls_.Discard();  // the caller gets the socket only
          return 0;
        }
        if (mode_ == 0) {
          ReadAnswer();
        } else {
          result_ = sent_;
        }
        break;
    }
    return Cleanup(discover);
  }

  void ChooseRoute() {
    proxy_ = ReadProxySnapshot();
    direct_ = !proxy_.enabled || mode_ != 0;
    target_host_ = host_;
    target_port_ = port_;
    if (direct_) return;
    // A setting that names a proxy for one protocol only ("http=h:p", as the
    // environment gives with http_proxy alone) sends the other one direct,
    // instead of towards an empty host that can never answer.
    if ((secure_ ? proxy_.https_host : proxy_.http_host).empty()) {
      QvLog::GetInstance()->Write("ConnectRequest-- no proxy for this protocol, going direct", 3);
      direct_ = true;
      return;
    }
    socks_ = proxy_.socks;
    target_host_ = secure_ ? proxy_.https_host : proxy_.http_host;
    target_port_ = secure_ ? proxy_.https_port : proxy_.http_port;
    route_.url_prefix = AbsoluteUrlPrefix(host_, port_);
    route_.pragma = true;
    if (!socks_) route_.credentials = proxy_.encoded_credentials;
  }

  bool Connect() {
    QvLog* log = QvLog::GetInstance();
    platform::Ipv4Address address{};
    if (std::optional<platform::Ipv4Address> dotted = platform::ParseDottedIPv4(target_host_)) {
      address = *dotted;
    } else {
      log->Write("ConnectRequest--in inaddr_none", 3);
      platform::SysResult<platform::Ipv4Address> resolved = platform::ResolveIPv4(target_host_);
      if (!resolved.ok()) {
        log->WriteNumber("gethostbyname error: ", resolved.error, 1);
        NoteLinkFailure(target_host_, target_port_, "the name does not resolve",
                        LinkFailureKind::kNameLookup);
        NoteTargetFailure("the name does not resolve");
        return false;
      }
      log->Write("ConnectRequest--done gethostbyname", 3);
      address = resolved.value;
    }

    platform::SysResult<platform::SocketDescriptor> created = platform::CreateTcpSocket();
    if (!created.ok()) {
      log->WriteNumber("ConnectRequest():", created.error, 3);
      log->Write("ConnectRequest(): unable to get socket", 1);
      return false;
    }
    socket_ = created.value;
    // From here on the deadline and the program's stop can end every wait.
    deadline_.emplace(socket_, deadline_at_);
    if (int error = platform::SetLinger(socket_, true, kLingerSeconds); error != 0) {
      log->WriteNumber("setsocketopt failed:", error, 1);
    }
    const uint32_t timeout = OutboundTimeout();
    platform::SetReceiveTimeout(socket_, timeout);
    platform::SetSendTimeout(socket_, timeout);

    log->Write("ConnectRequest--Calling Connect", 3);
    NoteWaitBegins();
    int error = platform::ConnectIPv4(socket_, address,
                                      static_cast<uint16_t>(target_port_ & 0xFFFF), timeout,
                                      &deadline_->abandoned());
    if (error != 0) {
      log->Write("ConnectRequest(): connect error", 1);
      log->WriteNumber("WSALastError", error, 3);
      NoteLinkFailure(target_host_, target_port_, platform::ErrorText(error), LinkKind(error));
      NoteTargetFailure(platform::IsTimeoutError(error) ? TimeoutReason()
                                                        : platform::ErrorText(error));
      StopDeadline();
      platform::CloseSocket(socket_);
      return false;
    }
    return true;
  }

  // The first hop failed: the server itself, or the proxy on the way.
  void NoteTargetFailure(const std::string& reason) {
    NoteRequestFailure(target_host_, target_port_, reason, !direct_);
  }
  // A failure past the proxy (or without one): named by the server.
  void NoteServerFailure(const std::string& reason) {
    NoteRequestFailure(host_, port_,
                       direct_ ? reason
                               : reason + " (through proxy " + target_host_ + ":" +
                                     std::to_string(target_port_) + ")");
  }
  // The proxy would not open the way to the server.
  void NoteWayRefused() {
    std::string why = TakeProxyRefusal();
    if (why.empty()) why = "would not open the way to " + host_ + ":" + std::to_string(port_);
    NoteRequestFailure(target_host_, target_port_, why, true);
  }
  std::string DeadlineReason() const {
    return "no complete answer within " + std::to_string(OutboundDeadline() / 1000) +
           " s (time-out)";
  }
  std::string ReadFailureReason(int error) const {
    if (deadline_ && deadline_->stopped()) return kStoppedReason;
    if (deadline_ && deadline_->expired()) return DeadlineReason();
    if (platform::IsTimeoutError(error)) return TimeoutReason();
    if (error == 0) return "the connection broke off while the answer was read";
    return platform::ErrorText(error);
  }

  const char* EncodedCredentials() const {
    return proxy_.encoded_credentials.empty() ? nullptr : proxy_.encoded_credentials.c_str();
  }

  bool Socks() {
    TakeProxyRefusal();
    NoteWaitBegins();
    bool ok =
        util_.EstablishSocksConnect(host_.c_str(), port_ & 0xFFFF, EncodedCredentials(), socket_);
    if (!ok) NoteWayRefused();
    QvLog::GetInstance()->Write(
        ok ? "EstablishSocksConnect succeeded" : "EstablishSocksConnect failed", 3);
    return ok;
  }

  bool Tunnel() {
    TakeProxyRefusal();
    NoteWaitBegins();
    bool ok = util_.EstablishProxyConnect(host_.c_str(), port_, EncodedCredentials(), socket_);
    if (!ok) NoteWayRefused();
    QvLog::GetInstance()->Write(
        ok ? "EstablishProxyConnect succeeded" : "EstablishProxyConnect failed", 3);
    return ok;
  }

  Sent SendPlain() {
    QvLog* log = QvLog::GetInstance();
    if (!direct_ && socks_) {
      if (!BeginSocksNegotiation()) {
        log->Write("Establishing Socks already - skipping connect", 3);
        NoteRequestFailure(target_host_, target_port_, "busy with another SOCKS negotiation", true);
        return Sent::kFailed;
      }
      bool ok = Socks();
      EndSocksNegotiation();
      if (!ok) return Sent::kFailed;
    } else if (!direct_ && tunnel_) {
      if (!Tunnel()) return Sent::kFailed;
      // The proxy's credentials are for the proxy: through the tunnel they
      // would reach the server.
      route_.credentials.clear();
    }
    if (upload_ && mode_ != 2) return SendUpload();

    std::string text;
    if (mode_ == 2) {
      log->Write("ConnectRequest-- Formatting direct yxprotocol proxytest request.", 3);
      std::array<char, kProbeSize> probe =
          FormatProbe(raw_path_ != nullptr ? raw_path_ : "\0\0\0\0\0\0\0");
      text.assign(probe.data(), probe.size());
      log->WriteString("ConnectRequest-- Done Formatting direct yxprotocol proxytest: ",
                       ChunkText(text.data(), text.size()), 3);
    } else {
      log->Write("ConnectRequest-- Formatting HTTP request.", 3);
      text = FormatGetRequest(route_, path_, SelectedAgent());
      log->Write("ConnectRequest-- Done Formatting HTTP request.", 3);
    }
    log->Write("ConnectRequest-- Calling  send", 3);
    NoteWaitBegins();
    platform::SysResult<long> sent = platform::Send(socket_, text);
    if (!sent.ok()) {
      log->Write("ConnectRequest(): error on GET send", 1);
      NoteServerFailure("the request could not be sent: " + platform::ErrorText(sent.error));
      return Sent::kAbandoned;
    }
    sent_ = static_cast<int>(sent.value);
    log->WriteString("ConnectRequest() sent", HideCredentials(ChunkText(text.data(), text.size())),
                     3);
    log->Write("ConnectRequest-- Done Calling  send", 3);
    return Sent::kOk;
  }

  Sent SendUpload() {
    QvLog* log = QvLog::GetInstance();
    log->Write("ConnectRequest-- Formatting HTTP request for file upload.", 3);
    std::string name;
    if (request_ != nullptr && request_->szUploadFile != nullptr) {
      std::unique_ptr<char[]> decoded(URLDecode(request_->szUploadFile, false));
      if (decoded) name = decoded.get();
    }
    std::optional<UploadFiles> files = UploadFiles::Open(name);
    if (!files) return Sent::kFailed;

    const size_t question = path_.find('?');
    const std::string page = path_.substr(0, question);
    const std::string lead =
        question == std::string::npos ? std::string() : path_.substr(question + 1);
    const int64_t length = files->size() + static_cast<int64_t>(lead.size());
    const std::string header = FormatUploadHeader(route_, page, SelectedAgent(), host_, length);

    log->Write("ConnectRequest-- Calling  send", 3);
    platform::SysResult<long> sent = WriteOut(header);
    if (!sent.ok()) {
      log->WriteNumber("ConnectRequest-- Error on sending HTTP request for file upload", -1, 3);
      return Sent::kFailed;
    }
    log->Write(
        "ConnectRequest-- Done Formatting and sending HTTP request for file upload; ready to send "
        "data",
        3);
    if (!WriteOut(lead).ok()) {
      log->Write("ConnectRequest-- Error on sending HTTP data hdr for file upload", 3);
      return Sent::kFailed;
    }
    Buffer();
    auto write = [this](std::string_view bytes) { return WriteOut(bytes).ok(); };
    if (!files->SendThrough(write, buffer_.get(), kBufferSize)) return Sent::kFailed;
    sent_ = static_cast<int>(sent.value);
    log->WriteString("ConnectRequest() sent", HideCredentials(header), 3);
    log->Write("ConnectRequest-- Done Calling  send", 3);
    return Sent::kOk;
  }

  // Bytes of the request: through the TLS connection when there is one.
  platform::SysResult<long> WriteOut(std::string_view bytes) {
    if (!secure_) return platform::Send(socket_, bytes);
    if (bytes.empty()) return {0, 0};
    int written = tls_.Write(bytes);
    if (written < 1) {
      tls_.LogErrorTexts(written);
      return {-1, -1};
    }
    return {written, 0};
  }

  Sent SendSecure() {
    QvLog* log = QvLog::GetInstance();
    log->Write("ConnectRequest using SSL", 3);
    if (!direct_ && !(socks_ ? Socks() : Tunnel())) return Sent::kFailed;
    NoteWaitBegins();
    if (!tls_.Connect(socket_, host_, port_)) return Sent::kTlsFailed;
    // The proxy's credentials are for the proxy: inside the tunnel they would
    // reach the broker.
    route_.credentials.clear();
    // The broker's pages carry uploads over TLS too, as the plain request would.
    if (upload_) return SendUpload();
    log->Write("ConnectRequest--Formatting SSL HTTPS request.", 3);
    const std::string text = FormatSecureGetRequest(route_, path_, SelectedAgent());
    log->Write("ConnectRequest-- Done Formatting SSL HTTPS request.", 3);
    log->Write("ConnectRequest-- Calling  pfnSSL_write", 3);
    NoteWaitBegins();
    sent_ = tls_.Write(text);
    if (sent_ < 1) tls_.LogErrorTexts(sent_);
    log->Write("ConnectRequest-- Done Calling  pfnSSL_write", 3);
    return Sent::kOk;
  }

  char* Buffer() {
    if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferSize + 1);
    return buffer_.get();
  }

  void Append(std::string_view data) {
    if (response_ != nullptr) response_->append(data);
  }

  void ReadAnswer() {
    QvLog* log = QvLog::GetInstance();
    log->Write("Entering ConnectRequest read", 3);
    char* buffer = Buffer();
    size_t total = 0;
    for (;;) {
      long n;
      int error = 0;
      NoteWaitBegins();
      if (secure_) {
        n = tls_.Read(buffer, static_cast<int>(kBufferSize));
        if (n < 0) error = platform::LastSocketError();
      } else {
        platform::SysResult<long> received = platform::Receive(socket_, buffer, kBufferSize);
        n = received.ok() ? received.value : -1;
        error = received.error;
      }
      // The abort looks like the peer's close: it is a failure.
      if (n >= 0 && deadline_ && deadline_->abandoned().load()) n = -1;
      if (n < 0) {
        NoteServerFailure(ReadFailureReason(error));
        log->WriteNumber("ConnectRequest(): recv error, nRet", -1, 1);
        if (secure_) tls_.LogErrorTexts(tls_.LastResult());
        result_ = -1;
        return;
      }
      if (n == 0) {
        log->Write("ConnectRequest(): recv returns 0, graceful closure", 3);
        if (!raw_) Append(std::string_view("", 1));
        result_ = 0;
        return;
      }
      buffer[n] = '\0';
      const std::string_view text = ChunkText(buffer, static_cast<size_t>(n));
      // A proxy may send its header block and the body in separate chunks.
      if (text.starts_with("HTTP/1") || !header_chunk_seen_) {
        last_header_chunk_ = text;
        header_chunk_seen_ = text.starts_with("HTTP/1");
      }
      log->WriteString("ConnectRequest(): received szBuffer", text, 3);
      log->WriteNumber("\tnRet: ", n, 3);
      total += static_cast<size_t>(n);
      if (total > kMaxAnswerBytes) {
        log->WriteNumber("ConnectRequest(): answer too large, limit ",
                         static_cast<long>(kMaxAnswerBytes), 1);
        NoteServerFailure("the answer is larger than " + std::to_string(kMaxAnswerBytes >> 20) +
                          " MB");
        result_ = -1;
        return;
      }
      if (raw_) {
        Append(std::string_view(buffer, static_cast<size_t>(n)));
        continue;
      }
      ChunkVerdict verdict = JudgeAnswerChunk(text);
      switch (verdict.kind) {
        case ChunkKind::kData: Append(verdict.append); continue;
        case ChunkKind::kCredentialsRequired:
          log->Write("======!!!Credentials required for proxy!!!======", 3);
          SetCredentialsNeeded();
          NoteAnswerRefusal("asks for a user name and password (407)");
          break;
        case ChunkKind::kForbidden:
          log->WriteString("======!!!Forbidden Server!!!======>", host_, 3);
          NoteAnswerRefusal("refused the request (403)");
          break;
        case ChunkKind::kProxyError:
          log->WriteString("======!!!Proxy Error !!!======>", host_, 3);
          NoteAnswerRefusal("could not reach " + host_ + ":" + std::to_string(port_) + " (502)");
          break;
      }
      util_.SaveErrorLine(text);
      result_ = -1;
      return;
    }
  }

  // An error status instead of the answer: the proxy's when one is on the
  // way, the server's otherwise.
  void NoteAnswerRefusal(const std::string& why) {
    if (direct_) {
      NoteRequestFailure(host_, port_, "answered: " + why);
    } else {
      NoteRequestFailure(target_host_, target_port_, why, true);
    }
  }

  // A proxy names itself in a Server or Via header of the answer; the
  // broker's own server ("Resin") does not count. Reported once.
  void DiscoverProxy() {
    if (direct_ || SocksNegotiationInProgress() || !ProxyServerName().empty()) return;
    std::optional<std::string> header = ExtractHeaderLine(last_header_chunk_, "Server");
    if (!header) header = ExtractHeaderLine(last_header_chunk_, "Via");
    if (!header || header->find("Resin") != std::string::npos) return;
    if (!ClaimProxyServerName(*header)) return;
    ReportProxy("util conreq", header->c_str(), last_header_chunk_.c_str(), socks_);
  }

  // Reports a passed deadline once; the socket is then left alone.
  void StopDeadline() {
    if (!deadline_) return;
    // Said while the request still counts as under way: whoever waits for
    // the stopped ones to end reads it first.
    if (deadline_->stopped()) {
      QvLog::GetInstance()->Write("ConnectRequest(): stopped, the program is ending", 3);
    }
    deadline_->Disarm();
    stopped_ = deadline_->stopped();
    if (deadline_->expired()) {
      QvLog::GetInstance()->WriteNumber("ConnectRequest(): request took longer than ms ",
                                        static_cast<long>(OutboundDeadline()), 1);
    }
    deadline_.reset();
  }

  int Cleanup(bool discover) {
    QvLog* log = QvLog::GetInstance();
    StopDeadline();
    if (discover) DiscoverProxy();
    log->Write("ConnectRequest --- Cleanup", 3);
    platform::ShutdownSend(socket_);
    platform::CloseSocket(socket_);
    tls_.Release(result_ == 0);
    log->Write("ConnectRequest --- Done Cleanup", 3);
    return result_;
  }

  QvNetUtil& util_;
  const std::string host_;
  const int port_;
  const std::string path_;
  const char* const raw_path_;  // the probe's bytes may include zeros
  std::string* const response_;
  tagREQUEST* const request_;
  const bool secure_;
  const bool tunnel_;
  const bool raw_;
  const int mode_;
  const bool upload_;

  ProxySnapshot proxy_;
  bool direct_ = true;
  bool socks_ = false;
  std::string target_host_;
  int target_port_ = 0;
  RequestRoute route_;
  platform::SocketDescriptor socket_ = platform::kInvalidSocket;
  TlsClient tls_;
  std::chrono::steady_clock::time_point deadline_at_;
  std::optional<RequestDeadline> deadline_;
  bool stopped_ = false;  // the program's stop ended it
  std::unique_ptr<char[]> buffer_;
  // The chunk that carried the answer's header block (the last one that
  // began with a status line), else the last chunk received.
  std::string last_header_chunk_;
  bool header_chunk_seen_ = false;
  int sent_ = 0;
  int result_ = 0;
};

}  // namespace

int QvNetUtil::ConnectRequest(const char* host, int port, const char* path, std::string* response,
                              tagREQUEST* request, bool secure, bool tunnel, bool raw, int mode,
                              bool upload) {
  return OutboundRequest(*this, host, port, path, response, request, secure, tunnel, raw, mode,
                         upload)
      .Run();
}

void QvNetUtil::SaveErrorLine(std::string_view answer) {
  char* line = ThreadErrorLineBuffer();
  CopyBounded(line, kErrorLineSize, ErrorLineOf(answer));
  m_szLastErrorLine = line;
}
