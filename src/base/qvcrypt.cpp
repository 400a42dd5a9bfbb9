#include "base/qvcrypt.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/bounded_copy.h"
#include "platform/file.h"
#include "platform/path.h"

namespace {

constexpr std::string_view kMagic = "Salted__";
constexpr size_t kSaltSize = 8;
constexpr int kRounds = 10000;

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
struct DigestContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// The first use of the library decides whether it cleans up at exit; it
// must not while threads the program does not wait for may use it.
void InitCrypto() { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); }

std::vector<unsigned char> DecodeBase64(std::string_view text) {
  // Blanks and line breaks are tolerated, as "openssl enc -a" without -A wraps.
  std::string compact;
  for (char c : text) {
    if (c != '\n' && c != '\r' && c != ' ') compact.push_back(c);
  }
  if (compact.empty() || compact.size() % 4 != 0) return {};
  std::vector<unsigned char> out(compact.size() / 4 * 3);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(compact.data()),
                          static_cast<int>(compact.size()));
  if (n < 0) return {};
  size_t padding = 0;
  if (compact.back() == '=') ++padding;
  if (compact[compact.size() - 2] == '=') ++padding;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

}  // namespace

const char* DecryptString(const char* cipher_text, char* output, const char* pass_phrase) {
  if (cipher_text == nullptr || output == nullptr || pass_phrase == nullptr) return nullptr;
  InitCrypto();
  std::vector<unsigned char> raw = DecodeBase64(cipher_text);
  if (raw.size() <= kMagic.size() + kSaltSize ||
      std::memcmp(raw.data(), kMagic.data(), kMagic.size()) != 0) {
    return nullptr;
  }
  const unsigned char* salt = raw.data() + kMagic.size();
  const unsigned char* body = salt + kSaltSize;
  const int body_size = static_cast<int>(raw.size() - kMagic.size() - kSaltSize);

  unsigned char key_iv[32 + 16];
  if (PKCS5_PBKDF2_HMAC(pass_phrase, static_cast<int>(std::strlen(pass_phrase)), salt,
                        kSaltSize, kRounds, EVP_sha256(), sizeof key_iv, key_iv) != 1) {
    return nullptr;
  }
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key_iv, key_iv + 32) != 1) {
    return nullptr;
  }
  std::vector<unsigned char> plain(static_cast<size_t>(body_size) + 32);
  int n = 0;
  int tail = 0;
  if (EVP_DecryptUpdate(ctx.get(), plain.data(), &n, body, body_size) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &tail) != 1) {
    return nullptr;
  }
  size_t length = static_cast<size_t>(n + tail);
  if (length >= kDecryptBufferSize) return nullptr;
  std::memcpy(output, plain.data(), length);
  output[length] = '\0';
  return output;
}

int DigestFile(const char* path, char* dest, size_t size) {
  constexpr size_t kHexSize = 64;
  if (dest != nullptr && size > 0) dest[0] = '\0';
  if (path == nullptr || dest == nullptr || size <= kHexSize) return -1;
  InitCrypto();
  auto [file, error] = platform::File::Open(platform::NativePath(path), platform::OpenMode::kRead);
  if (error != 0) return -1;
  std::unique_ptr<EVP_MD_CTX, DigestContextFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return -1;
  char chunk[8192];
  for (;;) {
    auto [n, read_error] = file.Read(chunk, sizeof chunk);
    if (read_error != 0) return -1;
    if (n == 0) break;
    EVP_DigestUpdate(ctx.get(), chunk, static_cast<size_t>(n));
  }
  unsigned char digest[32];
  unsigned int digest_size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &digest_size) != 1) return -1;
  static constexpr char kHex[] = "0123456789abcdef";
  char hex[kHexSize + 1];
  for (unsigned int i = 0; i < digest_size; ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 15];
  }
  hex[kHexSize] = '\0';
  CopyBounded(dest, size, hex);
  return 0;
}
