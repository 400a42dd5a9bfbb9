#include "shell/session_seam.h"

#include <string>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "broker/broker_channel.h"
#include "broker/record_http_proxy.h"
#include "device/broker_standing.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "device/proxy_settings.h"
#include "net/outbound_state.h"
#include "net/tls_reuse.h"
#include "session/device_login.h"
#include "session/heartbeat.h"
#include "shell/console.h"
#include "shell/shell.h"

namespace shell {

std::optional<int> StartBrokerSession(Shell& shell) {
  QvLog* log = QvLog::GetInstance();
  QvSettings* settings = QvSettings::GetInstance();
  QvDevice& device = *shell.device;
  SetBrowserAgent(settings->IEAgent() == "1");
  SetOutboundDevice(&device);
  InstallProxyReport();
  // A heartbeat a minute resumes its TLS session instead of a full handshake.
  KeepTlsSessions();
  LogBrokerChannel();
  ConfigureHeartbeat(&device, shell.heartbeat_stop.get());

  if (!device.GetOnlineState()) {
    ReadBrowserProxy();
    log->Write("Device NOT online. Skipping DeviceLogin and Heartbeat", 3);
    return std::nullopt;
  }
  // Without a broker's address there is nothing to log in to, and the
  // address "0" would reach this very machine.
  if (const std::vector<std::string> missing = MissingBrokerKeys(); !missing.empty()) {
    std::string keys;
    for (const std::string& key : missing) keys += (keys.empty() ? "" : ", ") + key;
    log->WriteString(
        "Broker not configured, no login and no heartbeat; missing in " + SettingsFilePath(), keys,
        1);
    device.SetOnlineState(false);
    return std::nullopt;
  }
  log->Write("Device is online. Calling DeviceLogin", 3);
  SayLoginWait(LoginTarget());
  int result = DeviceLogin(device);
  if (result == -1) {
    ReadBrowserProxy();
    log->Write("!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!.", 3);
    log->Write("Error on device login. Awaiting correction", 3);
    ReadBrowserProxy();
  } else if (result == 0) {
    log->WriteString("Afer DeviceLogin BrokerKey is ", device.GetBrokerKey(), 3);
  }
  // Online only with a session: the heartbeat keeps trying to get one.
  if (result != 0) device.SetOnlineState(false);
  BeginHeartbeatThread();
  return result;
}

void LogoutAfterFailedStart(Shell&) { DeviceLogout(); }

void EndBrokerSession(Shell& shell) {
  if (shell.device && shell.device->GetOnlineState()) DeviceLogout();
}

void UserLogoutOnExit(Shell& shell) {
  if (shell.device) ::UserLogoutOnExit(*shell.device);
}

}  // namespace shell
