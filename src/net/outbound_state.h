// What outbound requests share across the process: the device whose proxy
// fields they follow, the User-Agent choice, the time-out of every connect,
// send and receive, the guard against two SOCKS negotiations at once, and
// the buffers that hold the last error line. All of it is safe to touch from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class QvDevice;

// The first non-null device given wins; later calls change nothing. The
// device must outlive every outbound request.
void SetOutboundDevice(QvDevice* device);
// Null until a device was set: requests then go direct.
QvDevice* OutboundDevice();

// True selects the browser User-Agent (the setting IEAgent is "1").
void SetBrowserAgent(bool browser);
// "YxnetAsys", or the browser agent text.
const char* SelectedAgent();
inline constexpr const char kProductVersion[] = "3.6.1";

// Milliseconds that one connect, send or receive may take before the
// request fails. 30 s unless changed; 0 is taken as 1.
void SetOutboundTimeout(uint32_t milliseconds);
uint32_t OutboundTimeout();

// Milliseconds that a whole request may take, however its peer trickles
// bytes within the time-out of each step. 2 minutes unless changed; 0 is
// taken as 1.
void SetOutboundDeadline(uint32_t milliseconds);
uint32_t OutboundDeadline();

// Claims the SOCKS negotiation for the caller: false when another plain
// request is negotiating already. End with EndSocksNegotiation.
bool BeginSocksNegotiation();
void EndSocksNegotiation();
bool SocksNegotiationInProgress();

// This thread's error-line buffer of kErrorLineSize bytes. A buffer is never
// freed: when its thread ends it serves the next new thread, so a pointer
// kept in a QvNetUtil stays readable.
inline constexpr size_t kErrorLineSize = 128;
char* ThreadErrorLineBuffer();

// The outbound device's proxy fields, read once per request. Without a
// device the proxy is disabled and everything is empty.
struct ProxySnapshot {
  bool enabled = false;
  bool socks = false;
  std::string http_host;
  int http_port = 0;
  std::string https_host;
  int https_port = 0;
  std::string credentials;          // "user:password", or empty
  std::string encoded_credentials;  // its Base64, or empty
};
ProxySnapshot ReadProxySnapshot();

// Flags and the learnt proxy name of the outbound device (no-ops, false and
// empty without one).
void SetCredentialsNeeded();
bool CredentialsNeeded();
void SetTunnelEstablished();
std::string ProxyServerName();
void SetProxyServerName(std::string_view name);
// Stores name only while no proxy name is known; true when it stored it,
// so two requests that learn at once report once.
bool ClaimProxyServerName(std::string_view name);
