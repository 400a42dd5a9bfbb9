// One start's proxy discovery and broker login, for bench/login_bench.sh,
// run in a working directory whose vane.ini names a registered device and
// its broker. The device is built as at start-up (its constructor runs the
// proxy discovery; the first in a process also makes the proxy factory),
// then logs in over TLS. Prints, in milliseconds:
//   <discovery> <login> <discovery again>
// and exits with the login's result.
#include <chrono>
#include <cstdio>

#include "broker/record_http_proxy.h"
#include "device/device.h"
#include "device/proxy_settings.h"
#include "net/outbound_state.h"
#include "platform/system_proxy.h"
#include "session/device_login.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main() {
  platform::PrepareSystemProxy();  // as peerserver does first
  const Clock::time_point start = Clock::now();
  QvDevice device;
  const Clock::time_point built = Clock::now();
  device.LoadConfiguration();
  SetOutboundDevice(&device);
  InstallProxyReport();
  const Clock::time_point login = Clock::now();
  const int result = DeviceLogin(device);
  const Clock::time_point logged_in = Clock::now();
  (void)ReadBrowserProxy();
  const Clock::time_point again = Clock::now();
  std::printf("%.2f %.2f %.2f\n", Milliseconds(start, built), Milliseconds(login, logged_in),
              Milliseconds(logged_in, again));
  return result == 0 ? 0 : 1;
}
