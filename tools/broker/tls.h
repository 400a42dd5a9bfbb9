// The TLS side of qvbroker: a server context with either the given
// certificate and key or a freshly made CA and a server certificate for
// 127.0.0.1 and localhost, and the per-connection stream over it.
#pragma once

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace qvbroker {

class TlsContext {
 public:
  // certFile and keyFile empty: generate. Returns null with *error on failure.
  static std::unique_ptr<TlsContext> Create(const std::string& certFile, const std::string& keyFile,
                                            std::string* error);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // PEM of the generated CA; empty with a given certificate.
  const std::string& caPem() const { return caPem_; }
  SSL_CTX* get() const { return ctx_; }

 private:
  TlsContext() = default;
  SSL_CTX* ctx_ = nullptr;
  std::string caPem_;
};

// Completed handshakes on every TLS port, and how many of them resumed a
// session: "handshakes=N resumed=M" (the admin page /admin/tls).
std::string TlsHandshakeCounts();

// One server-side TLS connection over a connected socket it does not own.
class TlsStream {
 public:
  TlsStream(const TlsContext& context, int fd);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  bool Handshake();
  // As sys::Receive: > 0 bytes, 0 end, sys::kTimedOut, sys::kFailed.
  long Read(char* buffer, size_t size);
  bool WriteAll(const char* data, size_t size);
  void Close();  // sends close_notify

 private:
  SSL* ssl_ = nullptr;
};

}  // namespace qvbroker
