// The TLS side of one outbound request: a client context (TLS 1.2 or later,
// peers verified against the system store, or against the CA file named by
// the setting BrokerCAFile when it is set), one connection on an already
// connected socket with server name indication and host-name checking, and
// the request's reads and writes. Logs as the request always did; a failed
// verification adds a line of its own. Owns its OpenSSL objects, never the
// socket.
#pragma once

#include <string>
#include <string_view>

#include "platform/native_types.h"

struct ssl_ctx_st;
struct ssl_st;

// What a server's certificate is checked against, in words: "BrokerCAFile
// <file>" or "the system's CA store".
std::string TlsTrustSource();

class TlsClient {
 public:
  TlsClient() = default;
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;
  // Frees whatever is left without a word.
  ~TlsClient();

  // The context, before any socket exists (the program's kept one when
  // there is one for the trust source of now). False (logged) on failure.
  bool CreateContext();
  // The handshake on socket, checking that the certificate names host (a
  // name or a dotted address); a session kept for host:port is offered.
  // False (logged) on failure.
  bool Connect(platform::SocketDescriptor socket, const std::string& host, int port);
  // SSL_write's result.
  int Write(std::string_view data);
  // Bytes read; 0 when the peer closed; -1 on an error or a time-out (the
  // error texts are then for LogErrorTexts(LastResult())).
  int Read(char* buffer, int size);
  int LastResult() const { return last_result_; }
  // The error texts of a failed call's result, a bounded run of lines.
  void LogErrorTexts(int result);

  bool HasConnection() const { return ssl_ != nullptr; }
  // Frees the connection (logging it) and the context. After a completed
  // exchange on a verified connection its session is kept first, when the
  // program keeps them.
  void Release(bool completed);
  // Frees everything without logging: for a socket handed to the caller.
  void Discard();

 private:
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
  int last_result_ = 0;
  bool verified_ = false;
  std::string server_;  // "host:port"
};
