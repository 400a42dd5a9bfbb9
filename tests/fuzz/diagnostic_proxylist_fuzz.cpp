// Any answer to the broker's relay proxy list, read as the diagnostic
// plug-in reads it: a broker answer, its count and list details, the relay
// entries and the PROXY_SUCCESS text built from them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "broker/jsp_response.h"
#include "modules/diagnostic/diagnostic_text.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string body(reinterpret_cast<const char*>(data), size);
  QvJspResponse response;
  if (response.BuildResponse(body.c_str()) != 0) return 0;
  const char* count_text = response.GetDetails("numyxproxies");
  const int count = count_text != nullptr ? LeadingNumber(count_text) : 0;
  if (count <= 0) return 0;
  const char* list = response.GetDetails("yxproxies");
  auto proxies = ParseProxyList(list != nullptr ? list : "", count < 16 ? count : 16);
  if (proxies.size() > 16) std::abort();
  std::string success;
  for (RelayProxy& proxy : proxies) {
    if (strnlen(proxy.host, sizeof proxy.host) > 15 || strnlen(proxy.port, sizeof proxy.port) > 5) {
      std::abort();
    }
    proxy.http_ok = proxy.port[0] < '5';
    AppendProxySuccess(success, proxy);
    if (success.size() > 255) std::abort();
  }
  return 0;
}
