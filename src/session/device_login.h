// The device's session at the broker: DeviceLogin reports who and where the
// device is and receives its broker key (one logout and retry when the
// broker still has it logged in); DeviceLogout, UserLogoutOnExit and the
// reachability probe CheckBrokerConnection. All are TLS page calls to the
// broker host's secure port.
#pragma once

#include <cstdint>
#include <string>

class QvBrokerEndpoint;
class QvDevice;

// 0 logged in; -1 no endpoint; -2 not registered; otherwise the page call's
// error (205 included) or the broker's status as a number. The device's
// status notes the login while it runs and its outcome with the reason.
int DeviceLogin(QvDevice& device);
// What a login waits for: "host:port (TLS)", and the proxy on the way.
std::string LoginTarget();
// The same as the standing tells it: "host:port", or "host:port through
// proxy h:p".
std::string LoginWaitsFor();

// The login at start runs beside the local server. Until it has ended,
// requests that need the broker's session wait for it: the program holds
// them before its server starts, and ends the hold when the login ended,
// was not tried or was stopped. False when the wait ran out.
void HoldForFirstLogin();
void EndFirstLogin();
bool WaitForFirstLogin(uint32_t timeout_ms);
// The page call's result; -1 when the configuration cannot be loaded or the
// device is not registered.
int DeviceLogout();
void UserLogoutOnExit(QvDevice& device);
// True when the broker answered "200" at the given endpoint.
bool CheckBrokerConnection(const QvBrokerEndpoint& endpoint);

// "name-version|name-version..." of the modules, then "|content-version"
// for each installed content item.
std::string ModuleAndContentList(const QvDevice& device);
// The adapter part of a device identifier "ip-mac-suffix" (diagnostic).
std::string StoredMac(const std::string& device_uid);
