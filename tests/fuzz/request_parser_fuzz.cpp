// Any bytes a browser (or anyone) can send to the local port.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/request_parser.h"
#include "server/server_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = SetWebRoot("/srv/web/root");
  (void)ready;
  if (size > kReceiveBufferSize) size = kReceiveBufferSize;
  std::vector<char> buffer(kReceiveBufferSize + 1, '\0');
  std::memcpy(buffer.data(), data, size);

  tagREQUEST request{};
  int status = ParseRequest(&request, buffer.data());
  if (status != 0 && status != 7 && status != 12 && status != 15) std::abort();
  if (status == 0 || status == 15) {
    // Accepted requests leave every text terminated inside its field.
    if (strnlen(request.szFilePath, sizeof request.szFilePath) == sizeof request.szFilePath) std::abort();
    if (strnlen(request.szUri, sizeof request.szUri) == sizeof request.szUri) std::abort();
    if (std::strstr(request.szFilePath, "..") != nullptr) std::abort();
    if (request.szEnvBlock[sizeof request.szEnvBlock - 1] != '\0') std::abort();
  }
  return 0;
}
