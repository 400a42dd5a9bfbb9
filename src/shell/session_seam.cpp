#include "shell/session_seam.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>
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
#include "net/request_deadline.h"
#include "net/tls_reuse.h"
#include "session/device_login.h"
#include "session/device_messages.h"
#include "session/heartbeat.h"
#include "shell/console.h"
#include "shell/shell.h"

namespace shell {
namespace {

// After a stop, what a request may still take: the logout at the end
// reaches a broker that answers, and one that does not costs no more.
constexpr uint32_t kStopGraceMs = 1000;
// How long the shutdown gives the stopped requests and the login at start
// to let go, all together: with the grace, the end stays within 2 s.
constexpr auto kLetGoWait = std::chrono::milliseconds(500);

// Whether this run logs in at start; main thread only.
bool g_log_in_at_start = false;

void LogInAtStart(Shell& shell) {
  QvLog* log = QvLog::GetInstance();
  QvDevice& device = *shell.device;
  int result = -1;
  if (!shell.stop_requested.load()) {
    log->Write("Device is online. Calling DeviceLogin", 3);
    SayLoginWait(LoginTarget());
    result = DeviceLogin(device);
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
  }
  EndFirstLogin();
  // A stopping program starts no heartbeat and no transfers.
  const bool stopping = shell.stop_requested.load();
  if (!stopping) {
    BeginHeartbeatThread();
    if (QvSettings::GetInstance()->XferRetryInterval() != 0) ResumeXfer();
  }
  log->WriteString("Login at start", stopping ? "stopped" : "ended with " + std::to_string(result),
                   2);
  shell.session_started.Set();
}

}  // namespace

void PrepareBrokerSession(Shell& shell) {
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

  g_log_in_at_start = false;
  if (!device.GetOnlineState()) {
    ReadBrowserProxy();
    log->Write("Device NOT online. Skipping DeviceLogin and Heartbeat", 3);
    return;
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
    return;
  }
  g_log_in_at_start = true;
  // The page says "logging in" from its first answer; module calls that go
  // by the online state wait for the outcome.
  device.Status().NoteLoginStarted(LoginWaitsFor(), std::time(nullptr),
                                   static_cast<int32_t>((OutboundTimeout() + 999) / 1000));
  HoldForFirstLogin();
}

void StartBrokerSession(Shell& shell) {
  if (!g_log_in_at_start) {
    QvLog::GetInstance()->WriteString("Login at start", "not tried", 2);
    shell.session_started.Set();
    return;
  }
  try {
    std::thread([&shell] { LogInAtStart(shell); }).detach();
  } catch (const std::system_error& e) {
    // The login is not given up: it holds the main thread instead.
    QvLog::GetInstance()->WriteString("No thread for the login at start", e.what(), 1);
    LogInAtStart(shell);
  }
}

void LogoutAfterFailedStart(Shell& shell) {
  EndFirstLogin();
  shell.session_started.Set();
  DeviceLogout();
}

void StopBrokerRequests() { StopOutboundRequests(kStopGraceMs); }

void EndBrokerSession(Shell& shell) {
  StopBrokerRequests();
  // Nothing waits for a login that no longer matters; the requests the stop
  // ended let go of their sockets (a beat's thread is not waited for).
  EndFirstLogin();
  const auto until = std::chrono::steady_clock::now() + kLetGoWait;
  const auto left = [until] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    return static_cast<uint32_t>(std::max<int64_t>(0, ms.count()));
  };
  if (!WaitForOutboundRequestsEnded(left())) {
    QvLog::GetInstance()->Write("Outbound requests still under way at the stop; not waited for", 1);
  }
  if (!shell.session_started.Wait(left())) {
    QvLog::GetInstance()->Write("The login at start did not end in time; not waited for", 1);
  }
  // The logout is the one request a stop still lets out, for a short while.
  StopOutboundRequests(kStopGraceMs);
  if (shell.device && shell.device->GetOnlineState()) DeviceLogout();
}

void UserLogoutOnExit(Shell& shell) {
  if (shell.device) ::UserLogoutOnExit(*shell.device);
}

}  // namespace shell
