#include "server/dispatch.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "base/guarded_text.h"
#include "base/log.h"
#include "base/settings.h"
#include "broker/record_http_proxy.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "device/module_entry.h"
#include "device/proxy_credentials.h"
#include "host/answer_send.h"
#include "host/host_state.h"
#include "host/module_answer.h"
#include "host/module_host.h"
#include "net/outbound_state.h"
#include "net/request_deadline.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/named_event.h"
#include "platform/socket.h"
#include "server/file_server.h"
#include "server/refusal_page.h"
#include "server/server_state.h"
#include "session/device_login.h"
#include "session/heartbeat.h"

namespace {

constexpr size_t kPathField = sizeof(tagREQUEST::szFilePath);
constexpr uint32_t kSslWaitMs = 30000;
constexpr int kNotFound = 10;  // the status line "404 Not Found"
constexpr char kLoginAlarm[] = "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!.";
constexpr char kCredentialsRequiredLine[] = "======!!!Credentials required for proxy!!!======";

// Redirects to the status pages; the application host and port come first.
constexpr char kEngineRedirect[] =
    "HTTP/1.0 302 Found\nLocation: http://%s:%s/vclient/engine.html?qvstatus=%d&details=%s&login=false\n\n";
constexpr char kCredentialsRedirect[] =
    "HTTP/1.0 302 Found\nLocation: http://%s:%s/vclient/engine.html?qvstatus=%d&details=Proxy credentials needed&login=false\n\n";
constexpr char kRegisterFailedRedirect[] =
    "HTTP/1.0 302 Found\nLocation: http://%s:%s/vclient/engine.html?qvstatus=%d&details=Device register failed&login=false\n\n";
constexpr char kOfflineStatusRedirect[] =
    "HTTP/1.0 302 Found\nLocation: http://%s:%s/vclient/qvstatus.html?qvstatus=%d&details=Device offline&Success=0\n\n";
constexpr char kOfflineAssetRedirect[] =
    "HTTP/1.0 302 Found\nLocation: http://%s:%s/vclient/foot_asset_detail.html?qvstatus=%d&details=Device offline&Success=0\n\n";
constexpr char kOfflineLibraryRedirect[] =
    "HTTP/1.0 302 Found\nLocation: http://%s:%s/vclient/foot_myassets.html?qvstatus=%d&details=Device offline&Success=0\n\n";

// Browsers refuse a bare status text on most ports.
constexpr char kStatusHeader[] = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";

platform::NamedEvent& SslWait() {
  // Never destroyed: connection threads may wait on it while the process exits.
  static platform::NamedEvent* event = new platform::NamedEvent("SSLWait");
  return *event;
}

// One routing decision at work: the request, the device and the answers.
class Route {
 public:
  Route(tagREQUEST* request, QvDevice& device)
      : request_(request),
        device_(device),
        path_(request->szFilePath),
        query_(request->szQueryString) {}

  void Run();

 private:
  void LoginGate();
  void OnlineGate();
  void CallModule() {
    if (WebCall(request_) == WebCallResult::kNotInstalled) ExplainNotInstalled();
  }
  // This machine's browser learns which module is missing and where its
  // library would go, instead of an empty answer.
  void ExplainNotInstalled() {
    const QvModule* entry = device_.FindModule(request_->szUri);
    const std::string name = entry != nullptr ? entry->GetName() : request_->szUri;
    ExplainRefusal(request_, kNotFound,
                   name + " is a module of the network, but it is not installed on this device: "
                          "its library would be " + platform::AbsolutePath(request_->szFilePath) +
                       " (in the web root, AppPath in " + SettingsFilePath() + ").");
  }

  // Answers instead of the module, then shuts the socket for sending.
  void Answer(const std::string& text) {
    SendModuleAnswer(request_, text.data(), text.size());
    platform::ShutdownSend(request_->hSocket);
  }
  void Redirect(const char* format, int status, const char* details = "") {
    char text[512];
    std::snprintf(text, sizeof text, format, device_.GetAppIP().c_str(),
                  device_.GetAppPort().c_str(), status, details);
    Answer(text);
  }
  void Status(const std::string& body) { Answer(kStatusHeader + body); }

  bool CredentialsNeeded() const {
    const QvProxyVars& proxy = device_.GetProxyVars();
    return proxy.bCredsNeeded.load() && !device_.GetTunnelOK();
  }
  // The credentials are the rest of the query after "creds=".
  bool TakeCredentials();
  // Tells the broker once (unless "proxyRecorded") that credentials are needed.
  void ReportCredentialsNeeded(const char* cred_type);
  void SetOnlineFromNetwork() { device_.SetOnlineState(IsOnline()); }
  // A login the program's stop cut short tells nothing about the broker:
  // the device stays as it was (and logs out at the end when online).
  void LoginFailed() {
    if (!OutboundRequestsStopped()) device_.SetOnlineState(false);
  }

  tagREQUEST* request_;
  QvDevice& device_;
  const char* path_;
  const char* query_;
};

void Route::Run() {
  if (ContainsText(path_, "QvDiagnosticModule")) return CallModule();
  // Module names are case-blind: the status module runs in every online
  // state whatever case the page spells it in.
  if (ContainsTextIgnoreCase(path_, "QvMetaObjectModule") &&
      !ContainsText(query_, "operation=search")) {
    return CallModule();
  }
  if (ContainsTextIgnoreCase(path_, "QvStatusModule")) return CallModule();
  // The gates go by the online state, which the login at start decides: a
  // request that needs it waits until that login has ended.
  if (!WaitForFirstLogin(OutboundDeadline())) {
    QvLog::GetInstance()->WriteString("The login at start is still under way; routing", path_, 1);
  }
  if (!device_.GetOnlineState() && ContainsText(path_, "QVLoginModule")) return LoginGate();
  OnlineGate();
}

bool Route::TakeCredentials() {
  QvLog* log = QvLog::GetInstance();
  log->Write("======!!!Credentials received for proxy!!!======", 3);
  QvProxyVars& proxy = device_.GetProxyVars();
  proxy.bCredsNeeded.store(false);
  SubmitProxyCredentials(proxy, std::strstr(query_, "creds=") + std::strlen("creds="));
  if (CheckBrokerConnection(TheHeartbeatState().endpoint)) return true;
  proxy.bCredsNeeded.store(true);
  return false;
}

void Route::ReportCredentialsNeeded(const char* cred_type) {
  if (QvSettings::GetInstance()->ProxyRecorded() == "1") return;
  RecordHttpProxy(cred_type, ReadGuarded(device_.GetProxyVars().szProxyServerName).c_str(),
                  "creds needed", false);
}

void Route::LoginGate() {
  QvLog* log = QvLog::GetInstance();
  if (CredentialsNeeded()) {
    if (!ContainsText(query_, "creds=")) {
      log->Write(kCredentialsRequiredLine, 3);
      Redirect(kCredentialsRedirect, 456);
      ReportCredentialsNeeded("Yxnet 1");
      return;
    }
    if (!TakeCredentials()) {
      log->Write("======!!!Bad Credentials likely!!! ======", 3);
      if (device_.GetTunnelOK()) {
        Redirect(kEngineRedirect, 450, "Proxy connection established, but unable to reach broker");
      } else {
        Redirect(kEngineRedirect, 457, "Proxy credentials needed");
      }
      return;
    }
    if (DeviceLogin(device_) != 0) {
      Redirect(kEngineRedirect, 500, "Unregistered");
      return;
    }
  }
  SetOnlineFromNetwork();
  if (device_.GetOnlineState()) {
    log->Write("QvServer was offline; doing DeviceLogin prior to QvLoginModule call", 3);
    if (DeviceLogin(device_) != 0) {
      log->Write(kLoginAlarm, 1);
      log->Write("Error on device login - setting to offline state.", 1);
      log->Write(kLoginAlarm, 1);
      LoginFailed();
    } else {
      StopHeartbeat();
      BeginHeartbeatThread();
    }
    log->WriteString("Afer DeviceLogin BrokerKey is ", device_.GetBrokerKey(), 3);
  }
  if (device_.GetOnlineState()) return CallModule();
  Redirect(kRegisterFailedRedirect, -1);
}

void Route::OnlineGate() {
  QvLog* log = QvLog::GetInstance();
  if (device_.GetOnlineState()) {
    SetOnlineFromNetwork();
    if (device_.GetOnlineState()) return CallModule();
  }
  log->Write("Offline state", 3);
  if (ContainsText(path_, "QVLoginModule") || ContainsText(query_, "operation=login") ||
      ContainsText(query_, "operation=startup") || ContainsText(query_, "operation=register")) {
    return CallModule();
  }
  if (ContainsText(path_, "QvProxyModule") || ContainsText(query_, "operation=search")) {
    return Redirect(kOfflineStatusRedirect, -1);
  }
  if (!ContainsText(path_, "QvYxModule")) {
    return Redirect(ContainsText(path_, "QvTransferModule") ? kOfflineAssetRedirect
                                                        : kOfflineLibraryRedirect,
                    -1);
  }
  if (CredentialsNeeded()) {
    if (ContainsText(query_, "creds=")) {
      if (!TakeCredentials()) {
        return Status("qvstatus=" + std::to_string(device_.GetTunnelOK() ? 450 : 457) + "\n\n");
      }
      if (DeviceLogin(device_) == 0) return CallModule();
      log->Write(kLoginAlarm, 1);
      log->Write("Error on device login - setting to offline state.", 1);
      log->Write(kLoginAlarm, 1);
      LoginFailed();
      return Status("qvstatus=500\n\n");
    }
    log->Write(kCredentialsRequiredLine, 3);
    ReportCredentialsNeeded("Yxnet 2");
    if (ContainsText(query_, "operation=getonlinestate")) return CallModule();
    return Status("qvstatus=456\n\n");
  }
  const char* user = device_.HasUser() ? "200" : "404";
  if (ContainsText(query_, "operation=init")) return Status(std::string("qvstatus=") + user + "\n\n");
  if (ContainsText(query_, "operation=getnetworksettings")) {
    return Status(std::string("qvstatus=") + user + "&ip=" + device_.GetLocalIP() +
                  "&requestip=" + device_.GetRemoteIP() +
                  "&fw=" + (device_.GetFirewall() ? "1" : "0"));
  }
  CallModule();
}

}  // namespace

bool isDLL(const char* path) {
  QvLog* log = QvLog::GetInstance();
  size_t length = strnlen(path, kPathField);
  if (length == kPathField) return false;
  std::string_view text(path, length);
  size_t dot = text.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || text.substr(dot) != ".dll") return false;
  size_t slash = text.rfind('/');
  if (slash == std::string_view::npos) {
    log->WriteString("DLL name malformed: missing leading slash?", path, 3);
    return false;
  }
  QvDevice* device = TheHostState().pDevice;
  std::string name(text.substr(slash + 1));
  if (device != nullptr && device->FindModule(name.c_str()) != nullptr) return true;
  log->WriteString("isDLL: not in module list:", path, 3);
  return false;
}

platform::WaitResult WaitForSslConnection(uint32_t timeout_ms) {
  QvLog* log = QvLog::GetInstance();
  const uint32_t start = platform::TickCount();
  platform::WaitResult result = SslWait().Wait(timeout_ms);
  char text[64];
  std::snprintf(text, sizeof text, "waited %6.0f seconds for ssl connection\n",
                (platform::TickCount() - start) / 1000.0);
  log->Write(text, 3);
  switch (result) {
    case platform::WaitResult::kAcquired:
      break;
    case platform::WaitResult::kAbandoned:
      log->Write("*****Wait abandoned on ssl event****", 3);
      break;
    case platform::WaitResult::kTimeout:
      log->Write("*****Wait timed out on sll event****", 3);
      break;
    case platform::WaitResult::kFailed:
      log->WriteString("****Error Wait Failed for ssl event ", "", 3);
      break;
  }
  return result;
}

void RunDll(tagREQUEST* request) {
  QvLog::GetInstance()->WriteString("RunDll: ", request->szFilePath, 3);
  if (WaitForSslConnection(kSslWaitMs) != platform::WaitResult::kAcquired) return;
  QvDevice* device = TheHostState().pDevice;
  if (device == nullptr) return;
  Route(request, *device).Run();
}
