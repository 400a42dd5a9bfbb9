#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "base/log.h"
#include "platform/socket.h"
#include "server/peer_lines.h"
#include "server/request_parser.h"

namespace {

// The whole request, however it was cut into segments, is read within the
// receive time-out of its connection.
constexpr auto kRequestReadTime = std::chrono::milliseconds(30000);

bool HasBlankLine(std::string_view text) {
  return text.find("\n\n") != std::string_view::npos ||
         text.find("\n\r\n") != std::string_view::npos;
}

}  // namespace

int ReceiveRequest(tagREQUEST* request, char* buffer, size_t size) {
  QvLog* log = QvLog::GetInstance();
  // Kept terminated after what came: nothing reads beyond it.
  buffer[0] = '\0';
  platform::ClearLastSocketError();

  const auto deadline = std::chrono::steady_clock::now() + kRequestReadTime;
  size_t total = 0;
  for (;;) {
    if (total > 0) {
      // What came before the time-out is the request.
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 ||
          !platform::WaitReadable(request->hSocket, static_cast<uint32_t>(left.count()))) {
        break;
      }
    }
    platform::SysResult<long> received =
        platform::Receive(request->hSocket, buffer + total, size - total);
    if (!received.ok()) {
      if (total > 0) break;
      WritePeerLine(PeerLine::kRecvError, "recv SOCKET_ERROR: " + std::to_string(received.error),
                    1);
      log->WriteNumber("recv SOCKET_ERROR: ", received.error, 4);
      return 0;
    }
    if (received.value == 0) {
      log->Write("recv 0 bytes: 'graceful closure'", 3);
      break;
    }
    log->WriteNumber("recv nRet ", received.value, 3);
    request->dwBytesReceived += static_cast<uint32_t>(received.value);
    total += static_cast<size_t>(received.value);
    buffer[total] = '\0';
    if (total == size || HasBlankLine(std::string_view(buffer, total))) break;
  }
  log->Write("ReceiveRequest: normal return", 3);
  return 1;
}
