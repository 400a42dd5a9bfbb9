// Escaped text from queries and file names, through both decoders.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "module/QvPeerModule.h"

namespace {

class FuzzModule : public QvPeerModule {
 public:
  char* Execute(const char*, void*) override { return nullptr; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t length = std::strlen(text.c_str());

  std::unique_ptr<char[]> plain(QvPeerModule::URLDecode(text.c_str(), false));
  std::unique_ptr<char[]> kept(QvPeerModule::URLDecode(text.c_str(), true));
  if (!plain || !kept) std::abort();
  size_t plain_length = std::strlen(plain.get());
  size_t kept_length = std::strlen(kept.get());
  if (plain_length > length || kept_length > length) std::abort();
  // Keeping separators can only keep more characters, never fewer.
  if (kept_length < plain_length) std::abort();
  if (std::memchr(text.c_str(), '%', length) == nullptr) {
    // Without escapes only '+' changes, and both forms agree.
    if (plain_length != length || std::strcmp(plain.get(), kept.get()) != 0) std::abort();
  }

  FuzzModule module;
  std::string in_place = text;
  module.UnEsc(in_place.data());
  if (std::strlen(in_place.c_str()) > length) std::abort();
  if (length >= 2) module.Esc2Char(text.c_str());
  return 0;
}
