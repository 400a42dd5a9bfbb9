#include "broker/broker_channel.h"

#include <string_view>

#include "base/log.h"
#include "base/settings.h"
#include "device/broker_endpoint.h"
#include "net/tls_client.h"

bool SecureBrokerPages() {
  // Only an explicit 0 turns it off: a typo must not open the channel.
  char value[8];
  int n =
      QvSettings::GetInstance()->ReadSetting("SecureBrokerPages", "1", value, sizeof value, false);
  return std::string_view(value, static_cast<size_t>(n)) != "0";
}

BrokerRoute RouteBrokerPage(int plain_port, int secure_port) {
  if (!SecureBrokerPages()) return {plain_port, false};
  return {secure_port, true};
}

BrokerRoute RouteBrokerPage(const QvBrokerEndpoint* endpoint) {
  if (endpoint == nullptr) return RouteBrokerPage(0, 0);
  return RouteBrokerPage(endpoint->GetCurrentPort(), endpoint->GetSecurePort());
}

std::string BrokerChannelText() {
  if (!SecureBrokerPages()) return "plain HTTP, not authenticated";
  return "TLS, certificate checked against " + TlsTrustSource();
}

void LogBrokerChannel() {
  if (SecureBrokerPages()) return;
  QvLog::GetInstance()->Write(
      "SecureBrokerPages=0: heartbeats, acknowledgements, proxy reports and log uploads go to the "
      "broker in plain HTTP; its messages to this device are not authenticated",
      1);
}
