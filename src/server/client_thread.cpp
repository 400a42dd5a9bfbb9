#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "base/log.h"
#include "base/query_for_log.h"
#include "host/client_counter.h"
#include "host/server_notify.h"
#include "platform/host_identity.h"
#include "platform/socket.h"
#include "server/dispatch.h"
#include "server/file_server.h"
#include "server/listener.h"
#include "server/peer_lines.h"
#include "server/request_origin.h"
#include "server/request_parser.h"
#include "server/status_line.h"

namespace {

constexpr size_t kMaxModuleQuery = 1024;
constexpr int kForbidden = 9;

// Client threads are detached, and the process may end soon after they do.
// The last act of each one is a release here, so that whoever acquires it
// (StopHTTP) is ordered after everything that thread did.
std::atomic<uint32_t> g_ended_client_threads{0};

struct EndMark {
  ~EndMark() { g_ended_client_threads.fetch_add(1, std::memory_order_release); }
};

// Ends a connection that is not served: closes it and counts the thread out.
void Abandon(tagREQUEST* request, ClientCounter* counter) {
  CloseConnection(request);
  if (counter == nullptr) return;
  int count = counter->Decrement();
  WritePeerLine(PeerLine::kAbandoned,
                "ClientThread clientCount decrement/socket:" + std::to_string(count) + "/" +
                    std::to_string(static_cast<long>(request->hSocket)),
                1);
}

void ServeModule(tagREQUEST* request) {
  QvLog* log = QvLog::GetInstance();
  const std::string query = QueryForLog(request->szQueryString ? request->szQueryString : "");
  log->WriteString("QvServer calling RunDLL", request->szFilePath, 3);
  log->WriteString("args:", query, 3);
  log->WriteString("QvServer calling RunDLL", query, 3);
  try {
    RunDll(request);
    log->WriteString("QvServer done calling RunDLL", query, 3);
  } catch (...) {
    log->WriteString("*****************Exception calling RunDLL", query, 3);
  }
}

}  // namespace

void ClientThread(tagREQUEST* heap_request) {
  EndMark end_mark;  // first, so it goes last
  QvLog* log = QvLog::GetInstance();
  // The thread's own record: nobody else holds it after the hand-over.
  std::unique_ptr<tagREQUEST> request(heap_request);
  request->szQueryString = nullptr;
  const long socket = static_cast<long>(request->hSocket);

  ClientCounter* counter = TheClientCounter();
  if (counter != nullptr) {
    log->WritePair("ClientThread clientCount/socket:", counter->Increment(), socket, 4);
  }

  // On the thread's own stack, as big as the buffer is: kept from the
  // allocator's shared arena, which every connection thread would contend for.
  char buffer[kReceiveBufferSize + 1];
  if (ReceiveRequest(request.get(), buffer, kReceiveBufferSize) == 0) {
    WritePeerLine(PeerLine::kNoRequestData,
                  std::string("Didn't get request data from : ") + request->szRemoteAddr, 1);
    WritePeerLine(PeerLine::kRequestFail, "=>request fail on socket: " + std::to_string(socket), 1);
    log->WriteString("Didn't get request data from ", request->szRemoteAddr, 3);
    log->WriteNumber("=>request fail on socket: ", socket, 3);
    Abandon(request.get(), counter);
    return;
  }

  // Read before parsing, which cuts the text into tokens in place.
  const RequestOrigin origin = ReadRequestOrigin(buffer);
  int status = ParseRequest(request.get(), buffer);
  if (status != kParseOk && status != kParseLongFileList) {
    WritePeerLine(PeerLine::kUnparsable, "Couldn't parse request data", 1);
    if (status != kParseBadRequest) SendErrorBody(request.get(), status);
    Abandon(request.get(), counter);
    return;
  }

  const bool module_call = isDLL(request->szFilePath);
  // Modules change state (logins, proxy credentials): the same callers as
  // files, and this machine's own browser. Others learn nothing.
  if (module_call && !IsCallerAdmitted(request.get(), /*local_browser_too=*/true)) {
    Abandon(request.get(), counter);
    return;
  }
  static const std::string own_name = platform::LocalHostName();
  if (std::string refusal = RefusalReason(origin, module_call, own_name); !refusal.empty()) {
    WritePeerLine(PeerLine::kRefusedOrigin, refusal + ": " + request->szFilePath, 1);
    SendErrorBody(request.get(), kForbidden);
    Abandon(request.get(), counter);
    return;
  }

  if (module_call) {
    size_t query_length = request->szQueryString ? std::strlen(request->szQueryString) : 0;
    if (query_length > kMaxModuleQuery && status != kParseLongFileList) {
      log->WriteNumber("Error: lpReq->szQueryString excessive: ", static_cast<long>(query_length),
                       3);
      Abandon(request.get(), counter);
      return;
    }
    ServeModule(request.get());
  } else {
    log->WriteString("QvServer calling SendFile", request->szFilePath, 3);
    SendFile(request.get());
  }

  try {
    CloseConnection(request.get());
  } catch (const std::exception&) {
    log->Write("******Exception caught in Client thread cleanup!", 3);
  }
  if (counter != nullptr) counter->Decrement();
}

void SyncWithEndedClientThreads() { g_ended_client_threads.load(std::memory_order_acquire); }

void CloseConnection(tagREQUEST* request) {
  ServerNotifyNumber(NOTIFY_TEXT, "Closing socket: ", static_cast<long>(request->hSocket));
  platform::ShutdownSend(request->hSocket);
  int error = platform::CloseSocket(request->hSocket);
  if (error != 0) ServerNotifyError("closesocket()", error);
  ServerNotify(NOTIFY_CONN_CLOSED, "");
}
