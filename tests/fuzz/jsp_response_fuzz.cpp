// Any answer a broker, a proxy or a stranger can return to a page call.
// Every message handed out must lie inside the answer; ASan watches the
// reads of its whole length, and each message must run exactly to the first
// line feed after it (or the end), in order.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "broker/jsp_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  QvJspResponse response;
  int built = response.BuildResponse(body);
  if (built != 0 && built != -1) std::abort();
  if (built == 0 && !body.starts_with("StatusCode")) std::abort();
  response.ParseDetails();
  response.IsOK();

  int count = response.GetDetailsCount();
  if (count < 0 || static_cast<size_t>(count) > size) std::abort();
  volatile size_t sink = 0;
  for (int i = 0; i < count; ++i) {
    if (const char* key = response.GetDetailsKey(i)) {
      sink = sink + std::strlen(key);
      if (response.GetDetails(key) == nullptr && response.GetDetailsValue(i) != nullptr) {
        // The first pair with this key may lack a value; a later one must not
        // be found before it.
        for (int j = 0; j < i; ++j) {
          const char* earlier = response.GetDetailsKey(j);
          if (earlier != nullptr && std::strcmp(earlier, key) == 0) goto found;
        }
        std::abort();
      found:;
      }
    }
    if (const char* value = response.GetDetailsValue(i)) sink = sink + std::strlen(value);
  }
  // The private copy begins where the status value is, less the key and '='.
  const char* copy = built == 0 && response.GetStatus() != nullptr
                         ? response.GetStatus() - (body.find('=') + 1)
                         : nullptr;
  const char* previous = nullptr;
  for (int n = 0;; ++n) {
    int length = -1;
    const char* message = response.GetMsgPtr(n, &length);
    if (message == nullptr) break;
    if (message <= previous) std::abort();
    previous = message;
    if (copy != nullptr) {
      const char* end = copy + size;
      const void* line_feed = std::memchr(message, '\n', static_cast<size_t>(end - message));
      const char* stop = line_feed != nullptr ? static_cast<const char*>(line_feed) : end;
      if (length != stop - message) std::abort();
    }
    if (length < static_cast<int>(std::strlen("messageType")) || static_cast<size_t>(length) > size) std::abort();
    if (std::memcmp(message, "messageType", 12) != 0) std::abort();
    for (int i = 0; i < length; ++i) sink = sink + static_cast<unsigned char>(message[i]);
  }
  response.GetDetails("messageType");
  response.Dump();
  return 0;
}
