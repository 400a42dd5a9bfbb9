// Where the device's broker pages go. The login always goes over TLS to the
// broker's secure port, its certificate and host name verified. Every other
// page (heartbeats, acknowledgements, proxy reports, the diagnostic's
// reports and uploads) carries what the device will act on, so by default
// it takes the same channel. SecureBrokerPages=0 in vane.ini restores plain
// HTTP to the plain port for them, and the device says that its broker
// messages are then not authenticated.
#pragma once

#include <string>

class QvBrokerEndpoint;

// True unless the setting SecureBrokerPages is "0"; absent means on.
bool SecureBrokerPages();

// One broker page's target.
struct BrokerRoute {
  int port = 0;
  bool secure = false;
};

// The route of a page that the documented protocol sends in plain HTTP to
// plain_port: the secure port over TLS instead, unless secure pages are off.
BrokerRoute RouteBrokerPage(int plain_port, int secure_port);
// The same for the endpoint's current plain port and its secure port (both
// 0 without an endpoint).
BrokerRoute RouteBrokerPage(const QvBrokerEndpoint* endpoint);

// The channel as it is required, for the start page and the status details
// ("TLS, certificate checked against BrokerCAFile ca.pem", or "... against
// the system's CA store"; "plain HTTP, not authenticated"); what the last
// handshake made of the certificate is the device status's to say.
std::string BrokerChannelText();

// The log line at start when secure pages are off (level 1); nothing
// otherwise.
void LogBrokerChannel();
