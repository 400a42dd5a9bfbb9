#include "server/file_server.h"

#include <string>

#include "common/device.h"
#include "common/log.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "server/content_type.h"
#include "server/server_notify.h"
#include "server/server_state.h"
#include "server/status_line.h"

namespace {

constexpr size_t kBlockSize = 8192;
constexpr int kNotFound = 10;
constexpr int kInternalError = 11;

// May the caller see this file? Logs why not.
bool Admitted(tagREQUEST* request, QvDevice* device) {
  QvLog* log = QvLog::GetInstance();
  if (!device->IsLoaded() && device->LoadConfiguration() != 0) {
    log->Write("Cannot init Device", 1);
    return false;
  }
  auto peer = platform::PeerAddress(request->hSocket);
  if (!peer.ok()) {
    log->Write("Unable to get peer address", 1);
    return false;
  }
  log->WriteString("I think request is from ", peer.value, 3);
  if (!device->IsHostAllowed(peer.value.c_str())) {
    log->WriteString("Invalid host ", peer.value, 1);
    return false;
  }
  if (!device->IsFileAllowed(request->szFilePath)) {
    log->WriteString("Not allowed to access file ", request->szFilePath, 1);
    return false;
  }
  return true;
}

}  // namespace

void SendFile(tagREQUEST* request) {
  ServerState& state = TheServerState();
  if (state.pDevice == nullptr || !Admitted(request, state.pDevice)) return;

  auto [file, error] = platform::File::Open(request->szFilePath, platform::OpenMode::kRead);
  auto size = error == 0 ? file.Size() : platform::SysResult<uint64_t>{0, error};
  if (!size.ok()) {
    ServerNotify(NOTIFY_FILE_NOT_FOUND, request->szFilePath);
    SendErrorBody(request, kNotFound);
    return;
  }
  ServerNotify(NOTIFY_FILE_SENT, request->szFilePath + std::string_view(state.szWebRoot).size());

  // Browsers refuse an answer without a status line on most ports.
  std::string header = "HTTP/1.0 200 OK\nContent-Type: ";
  header.append(ContentTypeFor(request->szFilePath));
  header.append("\nContent-Length: ").append(std::to_string(size.value)).append("\n\n");
  // The header and the blocks leave in full segments, not one small
  // segment per send.
  platform::SetCork(request->hSocket, true);
  if (SendBuffer(request, header.data(), header.size()) == 0) return;

  std::string block(kBlockSize, '\0');
  for (;;) {
    auto read = file.Read(block.data(), static_cast<int64_t>(block.size()));
    if (!read.ok()) {
      AppendErrorBody(request, kInternalError);  // the status line is already out
      break;
    }
    if (read.value == 0) break;
    if (SendBuffer(request, block.data(), static_cast<size_t>(read.value)) == 0) break;
    request->dwBytesSent += static_cast<uint32_t>(read.value);
  }
  platform::SetCork(request->hSocket, false);
  file.Close();
  request->hFile = reinterpret_cast<void*>(~uintptr_t{0});
}

int SendBuffer(tagREQUEST* request, const char* data, size_t length) {
  QvLog* log = QvLog::GetInstance();
  log->WriteString("SendBuffer====>:", request->szFilePath, 4);
  platform::ClearLastSocketError();
  auto sent = platform::Send(request->hSocket, std::string_view(data, length));
  if (!sent.ok()) {
    log->WriteNumber("SendFile SOCKET_ERROR: ", sent.error, 1);
    log->WriteNumber("-------- BytesSent   : ", sent.value, 3);
    return 0;
  }
  log->WriteNumber("<===SendBuffer: Total sent: ", sent.value, 4);
  return 1;
}
