// Any query a browser can send to a module.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module/QvPeerModule.h"

namespace {

class FuzzModule : public QvPeerModule {
 public:
  char* Execute(const char*, void*) override { return nullptr; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string query(reinterpret_cast<const char*>(data), size);
  size_t length = std::strlen(query.c_str());
  FuzzModule module;
  module.ParseString(query.c_str());
  int params = module.GetNumQueryParams();
  if (params < 0 || params > QvPeerModule::kMaxParams) std::abort();
  if (length > 0 && params == 0) std::abort();
  // Keys and values are the query minus one separator per parameter.
  size_t total = 0;
  for (int i = 0; i < params; ++i) {
    const char* key = module.GetCgiKey(i);
    const char* value = module.GetCgiValue(i);
    if (key == nullptr || value == nullptr) std::abort();
    if (std::strchr(key, '&') != nullptr || std::strchr(value, '&') != nullptr) std::abort();
    if (std::strchr(value, '=') != nullptr) std::abort();
    total += std::strlen(key) + std::strlen(value);
  }
  if (total > length) std::abort();
  if (params < QvPeerModule::kMaxParams) {
    size_t separators = 0;
    for (size_t i = 0; i < length; ++i) separators += query[i] == '&';
    if (static_cast<size_t>(params) != separators + 1 && length > 0) std::abort();
  }
  if (params > 0) {
    const char* first = module.GetCgiValue(module.GetCgiKey(0));
    if (first == nullptr) std::abort();
  }
  if (module.GetCgiValue(params) != nullptr || module.GetCgiKey(-1) != nullptr) std::abort();
  // A second parse replaces the first completely.
  module.ParseString(query.c_str());
  if (module.GetNumQueryParams() != params) std::abort();
  return 0;
}
