#include "server/file_server.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/log.h"
#include "base/settings.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "host/answer_send.h"
#include "host/host_state.h"
#include "host/server_notify.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "server/content_type.h"
#include "server/refusal_page.h"
#include "server/peer_lines.h"
#include "server/server_state.h"
#include "server/status_line.h"

namespace {

constexpr int kForbidden = 9;
constexpr int kNotFound = 10;
constexpr int kInternalError = 11;

// The address this machine's own browser connects from. Other loopback
// addresses count as other hosts: nothing local needs them.
constexpr char kLocalBrowser[] = "127.0.0.1";

enum class Refusal { kNone, kUnknown, kHost, kFile };

Refusal CheckCaller(tagREQUEST* request, bool local_browser_too) {
  QvLog* log = QvLog::GetInstance();
  QvDevice* device = TheHostState().pDevice;
  if (device == nullptr) return Refusal::kUnknown;
  if (!device->IsLoaded() && device->LoadConfiguration() != 0) {
    log->Write("Cannot init Device", 1);
    return Refusal::kUnknown;
  }
  // The listener took the peer's address from accept.
  const char* peer = request->szRemoteAddr;
  if (peer[0] == '\0') {
    log->Write("Unable to get peer address", 1);
    return Refusal::kUnknown;
  }
  log->WriteString("I think request is from ", peer, 3);
  const bool local_browser = local_browser_too && std::strcmp(peer, kLocalBrowser) == 0;
  if (!device->IsHostAllowed(peer) && !local_browser) {
    WritePeerLine(PeerLine::kInvalidHost, std::string("Invalid host : ") + peer, 1);
    return Refusal::kHost;
  }
  return Refusal::kNone;
}

// May the caller see this file? Logs why not.
Refusal CheckFile(tagREQUEST* request, QvDevice* device) {
  if (Refusal caller = CheckCaller(request, false); caller != Refusal::kNone) return caller;
  // Text patterns judge the path below the web root: the root's own name
  // must not admit every file in it.
  const size_t root_length = std::string_view(TheServerState().szWebRoot).size();
  if (!device->IsFileAllowed(request->szFilePath, root_length)) {
    WritePeerLine(PeerLine::kFileRefused,
                  std::string("Not allowed to access file : ") + request->szFilePath, 1);
    return Refusal::kFile;
  }
  return Refusal::kNone;
}

// Tells this machine's browser, in words, which setting kept it out.
void Explain(tagREQUEST* request, Refusal refusal) {
  const std::string path(request->szFilePath +
                         std::min(std::strlen(request->szFilePath),
                                  std::string_view(TheServerState().szWebRoot).size()));
  const std::string settings = SettingsFilePath();
  switch (refusal) {
    case Refusal::kHost:
      ExplainRefusal(request, kForbidden,
                     "Files are served only to the addresses that AllowHosts lists, and "
                     "AllowHosts in " +
                         settings + " does not list " + kLocalBrowser +
                         " (this machine's browser). Add it, then restart peerserver.");
      break;
    case Refusal::kFile:
      if (path.ends_with(".dll")) {
        ExplainRefusal(request, kNotFound,
                       "There is no module " + path.substr(path.rfind('/') + 1) +
                           " here: it is not in the module list (Modules in " + settings +
                           ", besides the network's own modules).");
      } else {
        ExplainRefusal(request, kForbidden,
                       path + " is not served: AllowFiles in " + settings +
                           " admits no pattern that matches it (now \"" +
                           QvSettings::GetInstance()->AllowFiles() + "\"). Add one, such as *" +
                           (path.rfind('.') != std::string::npos ? path.substr(path.rfind('.'))
                                                                 : std::string(".html")) +
                           ", then restart peerserver.");
      }
      break;
    case Refusal::kNone:
    case Refusal::kUnknown:
      break;
  }
}

}  // namespace

bool IsCallerAdmitted(tagREQUEST* request, bool local_browser_too) {
  return CheckCaller(request, local_browser_too) == Refusal::kNone;
}

void SendFile(tagREQUEST* request) {
  QvLog* log = QvLog::GetInstance();
  ServerState& state = TheServerState();
  QvDevice* device = TheHostState().pDevice;
  if (device == nullptr) return;
  if (Refusal refusal = CheckFile(request, device); refusal != Refusal::kNone) {
    Explain(request, refusal);
    return;
  }

  auto [file, error] = platform::File::Open(request->szFilePath, platform::OpenMode::kRead);
  auto size = error == 0 ? file.Size() : platform::SysResult<uint64_t>{0, error};
  if (!size.ok()) {
    ServerNotify(NOTIFY_FILE_NOT_FOUND, request->szFilePath);
    SendErrorBody(request, kNotFound);
    return;
  }
  ServerNotify(NOTIFY_FILE_SENT, request->szFilePath + std::string_view(state.szWebRoot).size());

  // Browsers refuse an answer without a status line on most ports.
  std::string header;
  header.reserve(128);  // one allocation for the whole header
  header.append("HTTP/1.0 200 OK\nContent-Type: ").append(ContentTypeFor(request->szFilePath));
  header.append("\nContent-Length: ").append(std::to_string(size.value)).append("\n\n");
  // The header waits for the first bytes of the file, so that they leave in
  // full segments. The bytes stop at the announced length: a file that grows
  // meanwhile must not overrun it (one that shrinks arrives short).
  if (SendPart(request, header.data(), header.size(), size.value > 0) == 0) return;
  if (size.value > 0) {
    log->WriteString("SendBuffer====>:", request->szFilePath, 4);
    platform::FileSendResult sent = file.SendTo(request->hSocket, size.value, kSendStallMs);
    request->dwBytesSent += static_cast<uint32_t>(sent.sent);
    if (sent.file_failed) {
      // The status line is already out: the error body can only follow.
      AppendErrorBody(request, kInternalError);
    } else {
      ReportSend(request, sent.error, static_cast<long>(sent.sent));
    }
  }
  file.Close();
  request->hFile = reinterpret_cast<void*>(~uintptr_t{0});
}
