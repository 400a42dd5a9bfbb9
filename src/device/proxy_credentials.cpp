#include "device/proxy_credentials.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "base/guarded_text.h"
#include "base/log.h"

namespace {

// EVP_EncodeBlock takes an int length; whole groups of three per call.
constexpr size_t kChunk = 3 * 1024;

}  // namespace

int Encode64(const void* input, size_t length, char* output, size_t output_size,
             size_t* output_length) {
  constexpr size_t kMax = std::numeric_limits<size_t>::max() / 4 * 3 - 2;
  const size_t encoded = length <= kMax ? 4 * ((length + 2) / 3) : std::numeric_limits<size_t>::max();
  if (output_length != nullptr) *output_length = encoded;
  if (output_size < encoded) {
    QvLog::GetInstance()->Write("QvNetUtil::Encode64 fails, short buffer for creds.", 3);
    return -2;
  }
  const auto* bytes = static_cast<const unsigned char*>(input);
  // EVP_EncodeBlock always terminates; a scratch block keeps that byte off
  // a buffer that has no room for it.
  unsigned char block[4 * (kChunk / 3) + 1];
  size_t written = 0;
  for (size_t done = 0; done < length;) {
    size_t part = std::min(kChunk, length - done);
    int n = EVP_EncodeBlock(block, bytes + done, static_cast<int>(part));
    std::memcpy(output + written, block, static_cast<size_t>(n));
    written += static_cast<size_t>(n);
    done += part;
  }
  if (encoded < output_size) output[encoded] = '\0';
  return 0;
}

void SubmitProxyCredentials(QvProxyVars& vars, std::string_view text) {
  if (text.empty()) return;
  // One byte short of the field, so the encoding always ends terminated.
  char encoded[sizeof vars.szCreds64];
  if (Encode64(text.data(), text.size(), encoded, sizeof encoded - 1) != 0) {
    WriteGuarded(vars.szCreds, "");
    WriteGuarded(vars.szCreds64, "");
    return;
  }
  WriteGuarded(vars.szCreds, text);
  WriteGuarded(vars.szCreds64, encoded);
}
