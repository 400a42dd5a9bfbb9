#include "shell/standing_view.h"

#include <string>

#include "base/log.h"
#include "base/settings.h"
#include "device/broker_standing.h"
#include "device/device.h"
#include "session/standing_listener.h"
#include "shell/console.h"
#include "shell/shell.h"
#include "shell/tray.h"

namespace shell {
namespace {

// "broker HOST (port P, TLS T)", or "broker" before one is set.
std::string BrokerLabel() {
  QvSettings* settings = QvSettings::GetInstance();
  const std::string host = settings->BrokerIP();
  if (host.empty() || host == "0") return "broker";
  return "broker " + host + " (port " + settings->BrokerPort() + ", TLS " +
         settings->BrokerSecurePort() + ")";
}

}  // namespace

void WatchStanding() {
  SetStandingListener([] { PostMessage(kStandingMessage); });
}

void ShowStanding() {
  Shell& shell = TheShell();
  if (!shell.device) return;
  const BrokerStanding standing = DescribeBrokerStanding(*shell.device);
  // The tooltip stays until the next change: without a login's ticking seconds.
  const std::string text = standing.SteadyText();
  SetTrayTip(std::string(kTrayTip) + ": " + text);
  if (standing.kind == BrokerStanding::kLoggingIn || text == shell.told_standing) return;
  shell.told_standing = text;
  QvLog::GetInstance()->WriteString("Broker state", text, 1);
  Say(BrokerLabel() + ": " + text);
}

}  // namespace shell
