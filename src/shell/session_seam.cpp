#include "shell/session_seam.h"

#include <ctime>

#include "base/log.h"
#include "base/settings.h"
#include "broker/broker_channel.h"
#include "broker/record_http_proxy.h"
#include "device/device.h"
#include "device/proxy_settings.h"
#include "net/link_report.h"
#include "net/outbound_state.h"
#include "net/tls_reuse.h"
#include "session/device_login.h"
#include "session/heartbeat.h"
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
  log->Write("Device is online. Calling DeviceLogin", 3);
  ClearTlsOutcome();
  int result = DeviceLogin(device);
  device.Status().NoteLogin(std::time(nullptr), result, LastLinkFailure(), LastTlsState(),
                            LastTlsFailure());
  if (result == -1) {
    ReadBrowserProxy();
    log->Write("!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!.", 3);
    log->Write("Error on device login. Awaiting correction", 3);
    ReadBrowserProxy();
    device.SetOnlineState(false);
  } else if (result == 0) {
    log->WriteString("Afer DeviceLogin BrokerKey is ", device.GetBrokerKey(), 3);
  }
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
