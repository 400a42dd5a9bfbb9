#include "session/device_login.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>

#include "base/log.h"
#include "base/settings.h"
#include "broker/jsp_response.h"
#include "broker/run_jsp.h"
#include "device/broker_endpoint.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "device/module_entry.h"
#include "module/QvPeerModule.h"
#include "net/link_report.h"
#include "net/outbound_state.h"
#include "session/standing_listener.h"

namespace {

constexpr char kRule[] = "/-----------------------------------------/";
constexpr size_t kContentPartMax = 255;
constexpr size_t kStoredMacMax = 55;
// What the broker's page path and query may take; longer requests are not
// sent (a cut query would report the wrong modules).
constexpr size_t kRequestMax = 1023;
constexpr size_t kUserRequestMax = 2047;

std::string SettingOrNone(QvSettings* settings, const std::string& key) {
  char value[32];
  settings->GetSettingString(key, value, sizeof value);
  return std::string(value) == "0" ? "none" : value;
}

// Logs that the stored identifier names another adapter; nothing depends on it.
void CheckMac(const QvDevice& device) {
  QvLog* log = QvLog::GetInstance();
  const std::string uid = device.GetDeviceUID();
  size_t dash = uid.find('-');
  if (dash == std::string::npos) return;
  const std::string mac = StoredMac(uid);
  const std::string uuid = device.GetUUID();
  log->WriteString("szOldMAC ", uid.substr(dash + 1), 3);
  log->WriteString("szMAC ", uuid, 3);
  log->WriteString("chMacBuff", mac, 3);
  if (mac == uuid) return;
  if (IsAdapterPresent(mac)) {
    log->Write("bIsAdapterPresent() caught multiple adapter mismatch - alternate adaper found", 3);
  } else {
    log->Write("!!!MAC addresses don't match!!! .", 3);
  }
}

void ApplyLogin(QvDevice& device, QvJspResponse& response) {
  device.SetBrokerKey(response.GetDetails("brokerKey"));
  device.SetLocalIP(response.GetDetails("ip"));
  device.SetRemoteIP(response.GetDetails("remoteip"));
  const char* fw = response.GetDetails("fw");
  device.SetFirewall(fw != nullptr && std::atoi(fw) > 0);
  device.SetOnlineState(true);
}

// A failed login's status as a number. A status that is missing or no number
// is no success: it reads as an answer the device cannot use.
int StatusNumber(const QvJspResponse& response) {
  const int status = response.GetStatus() != nullptr ? std::atoi(response.GetStatus()) : 0;
  return status != 0 ? status : kUnreadableAnswer;
}

std::string LoginRequest(const QvDevice& device) {
  char allow_upgrade[32];
  QvSettings::GetInstance()->ReadSetting("AllowUpgrade", "0", allow_upgrade,
                                         sizeof allow_upgrade, false);
  std::string upgrade = allow_upgrade[0] == '\0' ? "0" : allow_upgrade;
  return "/asys/DeviceLogin.jsp?deviceUID=" + device.GetDeviceUID() + "&allowUpgrade=" + upgrade +
         "&port=" + device.GetAppPort() + "&ip=" + device.GetIP() +
         "&yxport=" + device.GetYxport() + "&modules=" + ModuleAndContentList(device);
}

int SendSecure(const QvBrokerEndpoint& endpoint, const std::string& request,
               QvJspResponse& response) {
  return RunJsp(endpoint.GetBrokerIP().c_str(), endpoint.GetSecurePort(), request.c_str(),
                &response, true);
}

}  // namespace

std::string StoredMac(const std::string& device_uid) {
  size_t dash = device_uid.find('-');
  if (dash == std::string::npos) return {};
  std::string rest = device_uid.substr(dash + 1);
  size_t next = rest.find('-');
  std::string mac;
  if (next == std::string::npos) {
    mac = rest;
  } else if (rest.find("-loc", next) != std::string::npos) {
    size_t after = rest.find('-', next + 1);
    mac = after == std::string::npos ? rest : rest.substr(0, after);
  } else {
    mac = rest.substr(0, next);
  }
  if (mac.size() > kStoredMacMax) mac.resize(kStoredMacMax);
  return mac;
}

std::string ModuleAndContentList(const QvDevice& device) {
  std::string list;
  for (int i = 0; i < device.GetModuleCount(); ++i) {
    const QvModule* entry = device.GetModule(i);
    if (i > 0) list += "|";
    list += entry->GetName();
    list += "-";
    list += entry->HasVersion() ? entry->GetVersion() : "none";
  }
  QvSettings* settings = QvSettings::GetInstance();
  const std::string contents = settings->ContentVersions();
  if (contents == "0") return list;
  std::string content_part;
  size_t start = 0;
  while (start <= contents.size()) {
    size_t comma = contents.find(',', start);
    std::string name = contents.substr(start, comma - start);
    std::string item = "|" + name + "-" + SettingOrNone(settings, name);
    if (content_part.size() + item.size() > kContentPartMax) break;
    content_part += item;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return list + content_part;
}

namespace {

int LoginSteps(QvDevice& device) {
  QvLog* log = QvLog::GetInstance();
  log->Write(kRule, 3);
  log->Write("QvDeviceLogin()", 3);
  CheckMac(device);
  device.LoadConfiguration();
  QvBrokerEndpoint endpoint;
  if (endpoint.LoadEndpoint() != 0) {
    log->Write("Init error", 3);
    return -1;
  }
  if (!device.IsRegistered()) {
    log->Write("DeviceSID not set. Skipping DeviceLogin.", 3);
    return -2;
  }
  const std::string request = LoginRequest(device);
  if (request.size() > kRequestMax) {
    log->WriteNumber("DeviceLogin: request too long, characters: ",
                     static_cast<long>(request.size()), 1);
    NoteRequestFailure(endpoint.GetBrokerIP(), endpoint.GetSecurePort(),
                       "the login request would be too long (" + std::to_string(request.size()) +
                           " characters; Modules or ContentVersions list too much)");
    return -1;
  }
  auto response = std::make_unique<QvJspResponse>();
  int result = SendSecure(endpoint, request, *response);
  if (result != 0) {
    log->Write("RunJsp returned an error. Returning.", 4);
    return result;
  }
  response->Dump();
  if (response->IsOK()) {
    ApplyLogin(device, *response);
    log->Write("login OK.", 3);
  } else if (response->GetStatus() == nullptr || std::string_view(response->GetStatus()) != "401") {
    result = StatusNumber(*response);
  } else {
    log->Write("Device already logged-in. Trying to log it out.", 3);
    // Still logged in elsewhere and not logged out: no success either.
    result = 401;
    if (DeviceLogout() >= 0) {
      log->Write("DeviceLogout successful. Trying to login again.", 3);
      response = std::make_unique<QvJspResponse>();
      result = SendSecure(endpoint, request, *response);
      if (result == 0 && response->IsOK()) {
        ApplyLogin(device, *response);
        log->WriteString("no login error on 2nd try. broker key ", device.GetBrokerKey(), 3);
      } else if (result == 0) {
        result = StatusNumber(*response);
      }
    }
  }
  log->WriteNumber("end QvDeviceLogin() returning ", result, 3);
  log->Write(kRule, 3);
  return result;
}

}  // namespace

namespace {

// The proxy on the login's way, in words (", through proxy h:p"), or empty.
std::string ProxyOnTheWay(const char* separator) {
  const ProxySnapshot proxy = ReadProxySnapshot();
  if (!proxy.enabled || proxy.https_host.empty()) return {};
  return std::string(separator) + (proxy.socks ? "through SOCKS proxy " : "through proxy ") +
         proxy.https_host + ":" + std::to_string(proxy.https_port);
}

std::string BrokerTlsAddress() {
  QvSettings* settings = QvSettings::GetInstance();
  return settings->BrokerIP() + ":" + settings->BrokerSecurePort();
}

std::mutex g_first_login_lock;
std::condition_variable g_first_login_ended;
bool g_first_login_pending = false;

}  // namespace

std::string LoginTarget() { return BrokerTlsAddress() + " (TLS" + ProxyOnTheWay(", ") + ")"; }

std::string LoginWaitsFor() { return BrokerTlsAddress() + ProxyOnTheWay(" "); }

int DeviceLogin(QvDevice& device) {
  QvDeviceStatus& status = device.Status();
  status.NoteLoginStarted(LoginWaitsFor(), std::time(nullptr),
                          static_cast<int32_t>((OutboundTimeout() + 999) / 1000));
  NotifyStandingChanged();
  NoteLinkReached();
  ClearTlsOutcome();
  // Each wait of the login's requests starts the clock the standing shows.
  SetWaitListener([&status] { status.NoteLoginWait(std::time(nullptr)); });
  const int result = LoginSteps(device);
  SetWaitListener({});
  status.NoteLogin(std::time(nullptr), result, result != 0 ? LastLinkFailure() : std::string(),
                   LastTlsState(), LastTlsFailure());
  NotifyStandingChanged();
  return result;
}

void HoldForFirstLogin() {
  std::lock_guard<std::mutex> hold(g_first_login_lock);
  g_first_login_pending = true;
}

void EndFirstLogin() {
  {
    std::lock_guard<std::mutex> hold(g_first_login_lock);
    g_first_login_pending = false;
  }
  g_first_login_ended.notify_all();
}

bool WaitForFirstLogin(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(g_first_login_lock);
  return g_first_login_ended.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                      [] { return !g_first_login_pending; });
}

int DeviceLogout() {
  QvLog* log = QvLog::GetInstance();
  log->Write("QvDeviceLogout()", 3);
  QvDevice device;
  QvBrokerEndpoint endpoint;
  if (device.LoadConfiguration() != 0 || endpoint.LoadEndpoint() != 0) {
    log->Write("Init error", 3);
    return -1;
  }
  if (!device.IsRegistered()) {
    log->Write("DeviceSID not set. Skipping DeviceLogout.", 3);
    return -1;
  }
  QvJspResponse response;
  return SendSecure(endpoint, "/asys/DeviceLogout.jsp?deviceUID=" + device.GetDeviceUID(),
                    response);
}

void UserLogoutOnExit(QvDevice& device) {
  QvUser user;
  user.Load();
  QvDomain domain;
  domain.Load();
  auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
  const std::string request =
      "/asys/UserLogout.jsp?&userSID=" + text(user.m_szUserSID) +
      "&deviceSID=" + device.GetDeviceSID() + "&domainSID=" + text(domain.m_szDomainSID) +
      "&vendorSID=" + text(domain.m_szVendorSID) + "&brokerSID=" + text(domain.m_szBrokerSID) +
      "&appSID=1";
  QvLog* log = QvLog::GetInstance();
  const QvBrokerEndpoint* endpoint = device.GetEndpoint();
  if (endpoint == nullptr || request.size() > kUserRequestMax) return;
  QvJspResponse response;
  if (SendSecure(*endpoint, request, response) != 0) return;
  if (response.IsOK()) {
    log->Write("Status is OK. YxShare logged out on PLA exit.", 3);
  } else {
    log->WriteString("YxShare on PLA exit failed, return code =", response.GetStatus(), 3);
  }
}

bool CheckBrokerConnection(const QvBrokerEndpoint& endpoint) {
  QvJspResponse response;
  return SendSecure(endpoint, "/asys/CheckConnection.jsp?", response) == 0 && response.IsOK();
}
