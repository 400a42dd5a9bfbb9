#include <cstring>

#include "common/log.h"
#include "platform/socket.h"
#include "server/request_parser.h"

int ReceiveRequest(tagREQUEST* request, char* buffer, size_t size) {
  QvLog* log = QvLog::GetInstance();
  std::memset(buffer, 0, size + 1);
  platform::ClearLastSocketError();

  platform::SysResult<long> received = platform::Receive(request->hSocket, buffer, size);
  if (!received.ok()) {
    log->WriteNumber("recv SOCKET_ERROR: ", received.error, 1);
    log->WriteNumber("recv SOCKET_ERROR: ", received.error, 4);
    return 0;
  }
  if (received.value > 0) {
    log->WriteNumber("recv nRet ", received.value, 3);
    request->dwBytesReceived += static_cast<uint32_t>(received.value);
  } else {
    log->Write("recv 0 bytes: 'graceful closure'", 3);
  }
  log->Write("ReceiveRequest: normal return", 3);
  return 1;
}
