#include "tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>

#include "sys.h"

namespace qvbroker {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;
using Bio = std::unique_ptr<BIO, BioFree>;

std::string LastError(const std::string& what) {
  unsigned long code = ERR_get_error();
  char text[256] = "no detail";
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return what + ": " + text;
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) return false;
  bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

// A certificate for key, named commonName, signed by issuerKey. issuer null
// makes it self-signed.
Cert MakeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                     bool ca) {
  Cert cert(X509_new());
  if (!cert) return nullptr;
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7f;  // a positive serial number
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
  BN_free(bn);
  ok = ok && X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
       X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
       X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600) != nullptr &&
       X509_set_pubkey(cert.get(), key) == 1;
  X509_NAME* name = X509_get_subject_name(cert.get());
  ok = ok && X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                        0) == 1;
  X509* signer = issuer ? issuer : cert.get();
  ok = ok && X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1;
  if (ca) {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    ok = ok && AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature") &&
         AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
         AddExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  // The subject key identifier first: the authority key identifier of a
  // self-signed certificate is taken from it.
  ok = ok && AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash") &&
       AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  ok = ok && X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0;
  if (!ok) return nullptr;
  return cert;
}

std::string ToPem(X509* cert) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) return {};
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

}  // namespace

std::unique_ptr<TlsContext> TlsContext::Create(const std::string& certFile,
                                               const std::string& keyFile, std::string* error) {
  std::unique_ptr<TlsContext> context(new TlsContext());
  context->ctx_ = SSL_CTX_new(TLS_server_method());
  SSL_CTX* ctx = context->ctx_;
  if (!ctx) {
    *error = LastError("SSL_CTX_new");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Clients that just close the socket end the request like any other.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);

  if (!certFile.empty()) {
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
      *error = LastError("certificate " + certFile);
      return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
      *error = LastError("key " + keyFile);
      return nullptr;
    }
    return context;
  }

  Pkey caKey(EVP_EC_gen("P-256"));
  Pkey serverKey(EVP_EC_gen("P-256"));
  if (!caKey || !serverKey) {
    *error = LastError("key generation");
    return nullptr;
  }
  Cert ca = MakeCertificate(caKey.get(), "qvbroker test CA", nullptr, caKey.get(), true);
  Cert server = ca ? MakeCertificate(serverKey.get(), "localhost", ca.get(), caKey.get(), false)
                   : nullptr;
  if (!server) {
    *error = LastError("certificate generation");
    return nullptr;
  }
  if (SSL_CTX_use_certificate(ctx, server.get()) != 1 ||
      SSL_CTX_use_PrivateKey(ctx, serverKey.get()) != 1 ||
      SSL_CTX_add1_chain_cert(ctx, ca.get()) != 1) {
    *error = LastError("server certificate");
    return nullptr;
  }
  context->caPem_ = ToPem(ca.get());
  if (context->caPem_.empty()) {
    *error = LastError("CA certificate PEM");
    return nullptr;
  }
  return context;
}

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

namespace {
std::atomic<unsigned> g_handshakes{0};
std::atomic<unsigned> g_resumed{0};
}  // namespace

std::string TlsHandshakeCounts() {
  return "handshakes=" + std::to_string(g_handshakes.load()) +
         " resumed=" + std::to_string(g_resumed.load());
}

TlsStream::TlsStream(const TlsContext& context, int fd) : ssl_(SSL_new(context.get())) {
  if (ssl_ && SSL_set_fd(ssl_, fd) != 1) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
}

TlsStream::~TlsStream() { SSL_free(ssl_); }

bool TlsStream::Handshake() {
  if (!ssl_) return false;
  ERR_clear_error();
  bool ok = SSL_accept(ssl_) == 1;
  ERR_clear_error();
  if (ok) {
    ++g_handshakes;
    if (SSL_session_reused(ssl_) == 1) ++g_resumed;
  }
  return ok;
}

long TlsStream::Read(char* buffer, size_t size) {
  ERR_clear_error();
  size_t got = 0;
  if (SSL_read_ex(ssl_, buffer, size, &got) == 1) return static_cast<long>(got);
  int reason = SSL_get_error(ssl_, 0);
  ERR_clear_error();
  if (reason == SSL_ERROR_ZERO_RETURN) return 0;
  if (reason == SSL_ERROR_WANT_READ) return sys::kTimedOut;  // the receive time-out
  return sys::kFailed;
}

bool TlsStream::WriteAll(const char* data, size_t size) {
  while (size > 0) {
    ERR_clear_error();
    size_t written = 0;
    if (SSL_write_ex(ssl_, data, size, &written) != 1) {
      ERR_clear_error();
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

void TlsStream::Close() {
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

}  // namespace qvbroker
