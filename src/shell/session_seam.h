// Where the broker session joins the shell: the login and heartbeat at
// start, the logout at the end. The local server runs without them (the
// device then works offline).
#pragma once

#include <optional>

namespace shell {

struct Shell;

// After the device is loaded and its online state set. DeviceLogin's
// result, or none when the device was offline and did not try. Interrupted
// transfers are resumed by the caller once its web server runs.
std::optional<int> StartBrokerSession(Shell& shell);
// StartHTTP failed: the device logs out whatever its state.
void LogoutAfterFailedStart(Shell& shell);
// Shutdown: the heartbeat has been told to stop; log out when online.
void EndBrokerSession(Shell& shell);
// Command 40008.
void UserLogoutOnExit(Shell& shell);

}  // namespace shell
