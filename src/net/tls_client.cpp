#include "net/tls_client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>

#include "base/log.h"
#include "base/qvcrypt.h"
#include "base/settings.h"
#include "net/link_report.h"
#include "net/tls_reuse.h"
#include "platform/ipv4_connect.h"
#include "platform/path.h"
#include "platform/socket.h"

namespace {

// SSL_get_error answers 0 quickly in practice; the bound keeps a library
// that never does from holding the thread.
constexpr int kMaxErrorTexts = 8;

std::string Dotted(const platform::Ipv4Address& address) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text.push_back('.');
    text.append(std::to_string(address.octets[i]));
  }
  return text;
}

// The CA file to trust instead of the system store; empty when not set.
std::string CaFile() {
  std::string file = QvSettings::GetInstance()->BrokerCAFile();
  return file == "0" ? std::string() : file;
}

// Which store a context trusts, as it is now: a CA file that was replaced
// or mended since (even within the same second, at the same size) gives
// another key, and so a fresh context.
std::string TrustKey(const std::string& ca_file) {
  if (ca_file.empty()) return "system store";
  char digest[65];
  if (DigestFile(platform::NativePath(ca_file).c_str(), digest, sizeof digest) != 0) {
    return "CA file " + ca_file;
  }
  return "CA file " + ca_file + " " + digest;
}

}  // namespace

std::string TlsTrustSource() {
  const std::string ca_file = CaFile();
  return ca_file.empty() ? std::string("the system's CA store") : "BrokerCAFile " + ca_file;
}

TlsClient::~TlsClient() { Discard(); }

bool TlsClient::CreateContext() {
  QvLog* log = QvLog::GetInstance();
  // No clean-up at exit: a thread the program does not wait for (the
  // heartbeat, a connection) may be inside a request while it exits.
  OPENSSL_init_ssl(
      OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ATEXIT,
      nullptr);
  const std::string ca_file = CaFile();
  const std::string trust_key = TrustKey(ca_file);
  ctx_ = KeptContext(trust_key);
  if (ctx_ != nullptr) return true;
  const SSL_METHOD* method = TLS_client_method();
  ctx_ = method != nullptr ? SSL_CTX_new(method) : nullptr;
  if (ctx_ == nullptr) {
    log->Write("ConnectRequest() SSL context fail", 3);
    log->Write("ConnectRequest() SSL context fail", 1);
    return false;
  }
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  // A peer that closes without close_notify has still sent its whole answer.
  SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  const bool trusted = ca_file.empty()
                           ? SSL_CTX_set_default_verify_paths(ctx_) == 1
                           : SSL_CTX_load_verify_locations(
                                 ctx_, platform::NativePath(ca_file).c_str(), nullptr) == 1;
  if (!trusted) {
    log->WriteString("ConnectRequest() SSL trust store fail", ca_file, 1);
    NoteTlsOutcome(false, "no usable CA certificate in " + ca_file);
    ERR_clear_error();
    Discard();
    return false;
  }
  KeepContext(trust_key, ctx_);
  return true;
}

bool TlsClient::Connect(platform::SocketDescriptor socket, const std::string& host, int port) {
  QvLog* log = QvLog::GetInstance();
  server_ = host + ":" + std::to_string(port);
  ssl_ = SSL_new(ctx_);
  if (ssl_ == nullptr) {
    log->Write("ConnectRequest() SSL establishment fail", 3);
    log->Write("ConnectRequest() SSL establishment fail", 1);
    return false;
  }
  if (SSL_set_fd(ssl_, static_cast<int>(socket)) != 1) {
    log->Write("ConnectRequest() SSL_set_fd fail", 3);
    log->Write("ConnectRequest() SSL_set_fd establisment fail", 1);
    return false;
  }
  log->Write("ConnectRequest--pfnSSL_set_fd Done", 3);
  log->WriteNumber("ConnectRequest--- ssl rwstate = ", SSL_want(ssl_), 3);
  if (SSL_get_ssl_method(ssl_) == nullptr) {
    log->Write("***********ssl-s3 is null!!!! returning*********", 3);
    return false;
  }

  // The name to expect in the certificate; a name also goes out as SNI
  // (an address may not).
  bool named;
  if (std::optional<platform::Ipv4Address> address = platform::ParseDottedIPv4(host)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), Dotted(*address).c_str()) == 1;
  } else {
    named =
        SSL_set_tlsext_host_name(ssl_, host.c_str()) == 1 && SSL_set1_host(ssl_, host.c_str()) == 1;
  }
  if (!named) {
    log->WriteString("ConnectRequest() SSL host name fail", host, 1);
    ERR_clear_error();
    return false;
  }

  if (SSL_SESSION* kept = KeptSession(server_, ctx_)) {
    SSL_set_session(ssl_, kept);
    SSL_SESSION_free(kept);
  }
  ERR_clear_error();
  int rc = SSL_connect(ssl_);
  log->Write("ConnectRequest--pfnSSL_connect Done", 3);
  if (rc != 1) {
    const int socket_error = platform::LastSocketError();
    const int ssl_error = SSL_get_error(ssl_, rc);
    log->Write("ConnectRequest() SSL_connect fail", 3);
    log->Write("ConnectRequest() SSL_connect establisment fail", 1);
    long verified = SSL_get_verify_result(ssl_);
    if (verified != X509_V_OK) {
      log->WriteString("ConnectRequest() SSL certificate verification fail",
                       X509_verify_cert_error_string(verified), 1);
      NoteTlsOutcome(false, X509_verify_cert_error_string(verified));
      NoteRequestFailure(host, port,
                         "TLS certificate not verified against " + TlsTrustSource() + ": " +
                             X509_verify_cert_error_string(verified));
    } else if (ssl_error == SSL_ERROR_SYSCALL || ssl_error == SSL_ERROR_ZERO_RETURN) {
      // The server went silent or away: no word on its certificate.
      NoteTlsOutcome(false, kTlsHandshakeFailed);
      NoteRequestFailure(host, port,
                         platform::IsTimeoutError(socket_error)
                             ? TimeoutReason() + " to the TLS handshake"
                             : std::string("the connection closed during the TLS handshake"));
    } else {
      const char* reason = ERR_reason_error_string(ERR_peek_error());
      NoteTlsOutcome(false, kTlsHandshakeFailed);
      NoteRequestFailure(host, port,
                         std::string(kTlsHandshakeFailed) + (reason != nullptr ? ": " : "") +
                             (reason != nullptr ? reason : ""));
    }
    LogErrorTexts(rc);
    ForgetSession(server_);
    return false;
  }
  log->Write("ConnectRequest--After pfnSSL_connect if block", 3);
  if (SSL_session_reused(ssl_) == 1) {
    log->WriteString("ConnectRequest-- TLS session resumed", server_, 4);
  }
  verified_ = true;
  NoteTlsOutcome(true, {});
  return true;
}

int TlsClient::Write(std::string_view data) {
  ERR_clear_error();
  int size = data.size() > INT_MAX ? INT_MAX : static_cast<int>(data.size());
  last_result_ = SSL_write(ssl_, data.data(), size);
  return last_result_;
}

int TlsClient::Read(char* buffer, int size) {
  ERR_clear_error();
  last_result_ = SSL_read(ssl_, buffer, size);
  if (last_result_ > 0) return last_result_;
  if (SSL_get_error(ssl_, last_result_) == SSL_ERROR_ZERO_RETURN) return 0;
  return -1;
}

void TlsClient::LogErrorTexts(int result) {
  QvLog* log = QvLog::GetInstance();
  unsigned long code = static_cast<unsigned long>(SSL_get_error(ssl_, result));
  for (int i = 0; i < kMaxErrorTexts; ++i) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    log->WriteString("SSL_write error:", text, 3);
    if (code == 0) break;
    code = static_cast<unsigned long>(SSL_get_error(ssl_, static_cast<int>(code)));
  }
  ERR_clear_error();
}

void TlsClient::Release(bool completed) {
  if (ssl_ != nullptr) QvLog::GetInstance()->Write("ConnectRequest --- SSL Cleanup", 3);
  // The session's tickets arrive after the handshake: kept at the end, it
  // is the newest one. A connection freed without a shutdown marks its
  // session unusable; one whose answer came whole ends quietly instead,
  // since the server has already closed.
  if (completed && verified_ && TlsSessionsKept()) {
    SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_SESSION* session = SSL_get1_session(ssl_);
    if (session != nullptr && SSL_SESSION_is_resumable(session) == 1) {
      KeepSession(server_, ctx_, session);
    } else if (session != nullptr) {
      SSL_SESSION_free(session);
    }
  }
  Discard();
}

void TlsClient::Discard() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
  ssl_ = nullptr;
  ctx_ = nullptr;
  verified_ = false;
}
