#include "host/answer_send.h"

#include <string_view>

#include "base/log.h"
#include "platform/socket.h"

int ReportSend(tagREQUEST* request, int error, long sent) {
  QvLog* log = QvLog::GetInstance();
  if (error != 0) {
    // A peer that takes nothing would hold the closing thread for the whole
    // linger time: drop it at once instead.
    platform::SetLinger(request->hSocket, true, 0);
    log->WriteNumber("SendFile SOCKET_ERROR: ", error, 1);
    log->WriteNumber("-------- BytesSent   : ", sent, 3);
    return 0;
  }
  log->WriteNumber("<===SendBuffer: Total sent: ", sent, 4);
  return 1;
}

int SendPart(tagREQUEST* request, const char* data, size_t length, bool more_follows) {
  QvLog::GetInstance()->WriteString("SendBuffer====>:", request->szFilePath, 4);
  platform::ClearLastSocketError();
  auto sent = platform::Send(request->hSocket, std::string_view(data, length), more_follows,
                             kSendStallMs);
  return ReportSend(request, sent.error, sent.value);
}

int SendBuffer(tagREQUEST* request, const char* data, size_t length) {
  return SendPart(request, data, length, false);
}
