// SendRecvBuffer: the one send-and-receive exchange of a SOCKS negotiation.
#include "base/log.h"
#include "net/answer_chunks.h"
#include "net/hide_credentials.h"
#include "net/net_util.h"
#include "platform/socket.h"

int QvNetUtil::SendRecvBuffer(platform::SocketDescriptor socket, char* buffer, int length,
                              int size) {
  QvLog* log = QvLog::GetInstance();
  if (length < 0 || size < 1 || length > size) return -1;
  platform::SysResult<long> sent =
      platform::Send(socket, std::string_view(buffer, static_cast<size_t>(length)));
  if (!sent.ok()) {
    log->Write("SendRecvBuffer(): error on send", 1);
    return -1;
  }
  const std::string_view message(buffer, static_cast<size_t>(length));
  log->WriteString("SendRecvBuffer() sent",
                   IsSocksPasswordMessage(message) ? "(user name and password)"
                                                   : ChunkText(buffer, message.size()),
                   3);
  log->Write("SendRecvBuffer read", 3);
  // One byte kept for the terminator: replies are also read as text.
  platform::SysResult<long> received =
      platform::Receive(socket, buffer, static_cast<size_t>(size) - 1);
  if (!received.ok()) {
    log->WriteNumber("SendRecvBuffer(): recv error, nRet", -1, 1);
    return -1;
  }
  // A closed connection leaves the buffer as it was: still the message sent.
  if (received.value > 0) buffer[received.value] = '\0';
  return static_cast<int>(received.value);
}
