#include "server/listener.h"

#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "base/bounded_copy.h"
#include "base/log.h"
#include "base/lookup_table.h"
#include "base/settings.h"
#include "device/device.h"
#include "host/client_counter.h"
#include "host/host_state.h"
#include "host/server_notify.h"
#include "module/output_generator.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "server/account_check.h"
#include "server/connection_gate.h"
#include "server/peer_lines.h"

namespace {

constexpr uint32_t kListenStopWaitMs = 10000;
constexpr uint32_t kClientsDoneWaitMs = 5000;
constexpr uint32_t kLingerSeconds = 30;
constexpr uint32_t kReceiveTimeoutMs = 30000;
// A client that stops reading must not hold its thread and file for good.
constexpr uint32_t kSendTimeoutMs = 30000;
// A client thread's stack: what a thread of the original platform gets, and
// room for the modules that run on it. The default (8 MiB here) makes most
// connections map a fresh stack, which costs more than the request.
constexpr size_t kClientStackBytes = 1 << 20;
// After a failed accept (out of descriptors, an aborted connection), the
// listener pauses this long and accepts again.
constexpr uint32_t kAcceptRetryPauseMs = 100;

std::thread g_listen_thread;
// Set before the listen thread starts, read only by it.
bool g_options_inherited = false;

// The address this machine's own browser connects from.
constexpr char kLocalBrowser[] = "127.0.0.1";

void AddRange(std::vector<uint16_t>& ports, int first, int last) {
  for (int port = first; port <= last; ++port) ports.push_back(static_cast<uint16_t>(port));
}

bool BindFirstFree(platform::SocketDescriptor socket, const std::vector<uint16_t>& ports,
                   uint16_t* bound) {
  QvLog* log = QvLog::GetInstance();
  for (uint16_t port : ports) {
    log->WriteNumber("Trying to bind to port ", port, 3);
    int error = platform::BindAny(socket, port);
    if (error == 0) {
      *bound = port;
      return true;
    }
    ServerNotifyError("bind() error", error);
  }
  return false;
}

// The pages find the server's port in a script written from a template.
void WritePortFile(const std::string& port) {
  QvLookupTable table;
  table.Insert("PORT", port.c_str());
  FileOutputGenerator output("..\\doc\\port.js");
  output.m_pTable = &table;
  output.setTemplate("vclient\\port.htx");
  output.ConstructOutputFromTemplate();
}

// "http://<app host>:<port><path of the old page>" when the old page names a
// port (contains ':').
void RewriteDefaultPage(const QvDevice& device, uint16_t port) {
  QvLog* log = QvLog::GetInstance();
  QvSettings* settings = QvSettings::GetInstance();
  std::string page = settings->DefaultPage();
  log->WriteString("default page ", page, 3);
  size_t last_colon = page.rfind(':');
  if (last_colon == std::string::npos) return;
  size_t slash = page.find('/', last_colon);
  std::string path = slash == std::string::npos ? std::string() : page.substr(slash);
  settings->WriteSetting("DefaultPage",
                         "http://" + device.GetAppIP() + ":" + std::to_string(port) + path);
}

void ListenThread(platform::Event* stop_event);

}  // namespace

std::vector<uint16_t> FirstPassPorts(int configured) {
  std::vector<uint16_t> ports;
  // Port 0 would bind a random port that no page knows about.
  if ((configured & 0xFFFF) != 0) ports.push_back(static_cast<uint16_t>(configured & 0xFFFF));
  AddRange(ports, 82, 100);
  AddRange(ports, 4080, 4999);
  return ports;
}

std::vector<uint16_t> SecondPassPorts() {
  std::vector<uint16_t> ports;
  AddRange(ports, 81, 100);
  AddRange(ports, 4080, 4999);
  return ports;
}

int StartHTTP(const ServerStartParams& params) {
  QvLog* log = QvLog::GetInstance();
  ServerState& state = TheServerState();
  state.hOwner = params.hOwner;
  state.nNotifyMessage = params.nNotifyMessage;
  HostState& host = TheHostState();
  host.pLock = params.pLock;
  if (!SetWebRoot(params.szWebRoot != nullptr ? params.szWebRoot : "")) {
    log->WriteString("Web root too long", params.szWebRoot, 1);
    return 0;
  }
  // Last: threads that wait for the device read the fields above after it.
  host.pDevice = params.pDevice;
  state.hStopEvent = std::make_unique<platform::Event>(true, false);
  state.hListenDone = std::make_unique<platform::Event>(true, false);
  // Files go out in one system call that cannot be told to spare the signal.
  platform::IgnoreBrokenPipes();

  auto created = platform::CreateTcpSocket();
  if (!created.ok()) {
    ServerNotifyError("Could not create listen socket", created.error);
    return 0;
  }
  platform::SocketDescriptor listener = created.value;
  platform::SetExclusiveAddress(listener);
  uint16_t port = 0;
  if (!BindFirstFree(listener, FirstPassPorts(params.nPort), &port)) {
    platform::CloseSocket(listener);
    created = platform::CreateTcpSocket();
    if (!created.ok()) {
      ServerNotifyError("Could not create 2nd listen socket", created.error);
      return 0;
    }
    listener = created.value;
    platform::SetReuseAddress(listener);
    if (!BindFirstFree(listener, SecondPassPorts(), &port)) {
      log->Write("Unable to bind to port range. Returning failure.", 1);
      platform::CloseSocket(listener);
      return 0;
    }
  }

  const std::string port_text = std::to_string(port);
  log->WriteNumber("Successfully bound server to port: ", port, 3);
  WritePortFile(port_text);
  QvSettings::GetInstance()->WriteSetting("AppPort", port_text);
  if (QvDevice* device = params.pDevice; device != nullptr) {
    device->SetAppPort(port_text.c_str());
    RewriteDefaultPage(*device, port);
  }
  int error = platform::Listen(listener);
  if (error != 0) {
    ServerNotifyError("listen() error", error);
    platform::CloseSocket(listener);
    return 0;
  }
  state.nLogLevel = log->GetLevel();
  state.hListenSocket = listener;
  g_options_inherited =
      platform::SetInheritedOptions(listener, kLingerSeconds, kReceiveTimeoutMs, kSendTimeoutMs);
  // An answer's last bytes leave with the shutdown, so the lingering close
  // finds its end already acknowledged instead of waiting for the client.
  platform::HoldPartialSegments(listener, true);
  QvSettings* settings = QvSettings::GetInstance();
  TheConnectionGate().SetCaps(settings->MaxConnectionsPerHost(), settings->MaxConnections());
  StartPeerLineCounts();
  try {
    g_listen_thread = std::thread(ListenThread, state.hStopEvent.get());
  } catch (const std::system_error& e) {
    ServerNotify(NOTIFY_TEXT, std::string("Could not create listening thread: ") +
                                  std::to_string(e.code().value()));
    platform::CloseSocket(listener);
    state.hListenSocket = platform::kInvalidSocket;
    return 0;
  }
  log->WriteNumber("LogLevel: ", state.nLogLevel, 2);
  return 1;
}

void StopHTTP() {
  ServerState& state = TheServerState();
  if (!state.hStopEvent) return;
  state.hStopEvent->Set();
  // Closing alone does not wake a thread blocked in accept on Linux.
  platform::ShutdownBoth(state.hListenSocket);
  if (state.hListenDone->Wait(kListenStopWaitMs)) {
    if (g_listen_thread.joinable()) g_listen_thread.join();
  } else {
    ServerNotify(NOTIFY_TEXT, "TIMEOUT waiting for ListenThread");
    if (g_listen_thread.joinable()) g_listen_thread.detach();
  }
  platform::CloseSocket(state.hListenSocket);
  state.hListenSocket = platform::kInvalidSocket;
  SyncWithEndedClientThreads();
  StopPeerLineCounts();
}

namespace {

void ConfigureConnection(platform::SocketDescriptor socket) {
  QvLog* log = QvLog::GetInstance();
  // Three system calls per connection saved where the listener hands its
  // options on; the lines of a trace still come from calls of its own.
  if (g_options_inherited && log->GetLevel() < 3) return;
  if (platform::SetLinger(socket, true, kLingerSeconds) == 0) {
    log->Write("setsocketopt success!", 3);
  } else {
    log->Write("setsocketopt failed:", 0);
  }
  if (platform::SetReceiveTimeout(socket, kReceiveTimeoutMs) == 0) {
    log->Write("setsockopt success for SO_RCVTIMEO", 3);
  } else {
    log->Write("setsockopt failed for SO_RCVTIMEO", 0);
  }
  platform::SetSendTimeout(socket, kSendTimeoutMs);
  // The read-back only reports; it costs two calls per connection.
  if (log->GetLevel() < 3) return;
  auto linger = platform::GetLinger(socket);
  if (linger.ok()) {
    log->Write("getsocket succeeded", 3);
    log->WriteNumber("Linger.l_onoff = ", linger.value.on, 3);
    log->WriteNumber("stLinger.l_linger = ", linger.value.seconds, 3);
  } else {
    log->Write("getSocketopt failed:", 0);
  }
  auto timeout = platform::GetReceiveTimeout(socket);
  if (timeout.ok()) {
    log->WriteNumber("RECV Timeout = ", static_cast<long>(timeout.value), 3);
  } else {
    log->Write("getSocketopt failed:", 0);
  }
}

std::unique_ptr<tagREQUEST> NewRequest(platform::SocketDescriptor socket, const std::string& peer) {
  ServerState& state = TheServerState();
  auto request = std::make_unique<tagREQUEST>();  // zeroed
  request->hStopEvent = state.hStopEvent.get();
  request->hSocket = socket;
  request->dwStartTick = platform::TickCount();
  request->hFile = reinterpret_cast<void*>(~uintptr_t{0});
  CopyBounded(request->szRemoteAddr, peer);
  request->hWndOwner = state.hOwner;
  request->pLock = TheHostState().pLock;
  return request;
}

// May the host read files or call modules? As the client thread decides
// it, so that nobody served there is turned away here.
bool IsServedHost(const std::string& peer) {
  QvDevice* device = TheHostState().pDevice;
  if (device == nullptr || !device->IsLoaded()) return true;  // the client thread decides
  return peer == kLocalBrowser || device->IsHostAllowed(peer.c_str());
}

// Closed at once (reset: no lingering), and logged once per burst of each
// kind. Listen thread only.
void RefuseAtAccept(platform::SocketDescriptor socket, const std::string& peer,
                    ConnectionGate::Verdict verdict) {
  platform::SetLinger(socket, true, 0);
  platform::CloseSocket(socket);
  switch (verdict) {
    case ConnectionGate::Verdict::kNotServed:
      WritePeerLine(PeerLine::kNotServed,
                    "Connections closed at accept, host neither reads files nor calls modules: " +
                        peer,
                    1);
      break;
    case ConnectionGate::Verdict::kHostFull:
      WritePeerLine(PeerLine::kHostFull,
                    "Connections closed at accept, MaxConnectionsPerHost reached by: " + peer, 1);
      break;
    case ConnectionGate::Verdict::kAllFull:
      WritePeerLine(PeerLine::kAllFull,
                    "Connections closed at accept, MaxConnections reached; first from: " + peer, 1);
      break;
    case ConnectionGate::Verdict::kAdmit:
      break;
  }
}

void ListenThread(platform::Event* stop_event) {
  QvLog* log = QvLog::GetInstance();
  ServerState& state = TheServerState();
  if (state.nLogLevel == 4) EnableClientCounter(true);
  ConnectionGate& gate = TheConnectionGate();
  AccountCheck accounts(QvSettings::GetInstance()->AllowOtherUsers() == 1);

  for (;;) {
    std::string peer;
    auto accepted = platform::Accept(state.hListenSocket, &peer);
    log->Write("ListenThread accept", 3);
    if (!accepted.ok()) {
      if (stop_event->IsSet()) break;
      // Out of descriptors or an aborted connection: service goes on.
      log->WriteNumber("ListenThread accept failed, retrying: ", accepted.error, 1);
      stop_event->Wait(kAcceptRetryPauseMs);
      continue;
    }
    platform::SocketDescriptor socket = accepted.value;
    // Before a thread or a descriptor more is spent on it.
    if (!accounts.Admits(socket, peer)) continue;
    if (auto verdict = gate.Admit(peer, IsServedHost(peer));
        verdict != ConnectionGate::Verdict::kAdmit) {
      RefuseAtAccept(socket, peer, verdict);
      continue;
    }
    ConfigureConnection(socket);
    if (log->GetLevel() >= 3) {  // formatted only when it will be written
      char accepted_text[64];
      std::snprintf(accepted_text, sizeof accepted_text, "Connection accepted on socket:%d from:%s",
                    static_cast<int>(socket), peer.c_str());
      log->WriteString("ListenThread accept", accepted_text, 3);
    }

    std::unique_ptr<tagREQUEST> request;
    try {
      request = NewRequest(socket, peer);
    } catch (const std::bad_alloc&) {
      log->Write("No memory for client request", 1);
      platform::CloseSocket(socket);
      gate.Release(peer);
      continue;
    }
    tagREQUEST* owned = request.get();
    auto serve = [owned, peer, &gate] {
      ClientThread(owned);
      gate.Release(peer);
    };
    if (platform::StartDetachedThread(serve, kClientStackBytes)) {
      request.release();  // the client thread owns it now
    } else {
      log->Write("Couldn't start client thread", 1);
      platform::CloseSocket(socket);
      gate.Release(peer);
    }
  }

  // The loop ends only for the stop (other accept failures are retried):
  // a normal end is no failure.
  log->Write("ListenThread error: INVALID_SOCKET", 3);
  stop_event->Wait(platform::kWaitForever);
  ClientCounter* counter = TheClientCounter();
  if (counter != nullptr && !counter->WaitAllDone(kClientsDoneWaitMs)) {
    ServerNotify(NOTIFY_TEXT, "One or more client threads did not exit");
  }
  EnableClientCounter(false);
  state.hListenDone->Set();
}

}  // namespace
