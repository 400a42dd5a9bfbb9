#include "shell/session_seam.h"

#include "common/device.h"
#include "common/log.h"
#include "common/settings.h"
#include "net/outbound_state.h"
#include "net/proxy_settings.h"
#include "session/device_login.h"
#include "session/device_messages.h"
#include "session/heartbeat.h"
#include "session/record_http_proxy.h"
#include "shell/shell.h"

namespace shell {

void StartBrokerSession(Shell& shell) {
  QvLog* log = QvLog::GetInstance();
  QvSettings* settings = QvSettings::GetInstance();
  QvDevice& device = *shell.device;
  SetBrowserAgent(settings->IEAgent() == "1");
  SetOutboundDevice(&device);
  InstallProxyReport();
  ConfigureHeartbeat(&device, shell.heartbeat_stop.get());

  if (!device.GetOnlineState()) {
    ReadBrowserProxy(nullptr);
    log->Write("Device NOT online. Skipping DeviceLogin and Heartbeat", 3);
    return;
  }
  log->Write("Device is online. Calling DeviceLogin", 3);
  int result = DeviceLogin(device);
  if (result == -1) {
    ReadBrowserProxy(nullptr);
    log->Write("!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!.", 3);
    log->Write("Error on device login. Awaiting correction", 3);
    ReadBrowserProxy(nullptr);
    device.SetOnlineState(false);
  } else if (result == 0) {
    log->WriteString("Afer DeviceLogin BrokerKey is ", device.GetBrokerKey(), 3);
  }
  BeginHeartbeatThread();
  if (settings->XferRetryInterval() != 0) ResumeXfer();
}

void LogoutAfterFailedStart(Shell&) { DeviceLogout(); }

void EndBrokerSession(Shell& shell) {
  if (shell.device && shell.device->GetOnlineState()) DeviceLogout();
}

void UserLogoutOnExit(Shell& shell) {
  if (shell.device) ::UserLogoutOnExit(*shell.device);
}

}  // namespace shell
