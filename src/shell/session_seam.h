// Where the broker session joins the shell: the login at start, which runs
// beside the local server so that the start page is there whatever the
// broker does; the heartbeat after it; the stop of every request under way;
// the logout at the end. The local server runs without them (the device
// then works offline).
#pragma once

namespace shell {

struct Shell;

// After the device is loaded and its online state set, before the web
// server starts: what outbound requests follow, and, when a login will be
// tried, the standing "logging in" and the hold on requests that need it.
void PrepareBrokerSession(Shell& shell);
// Once the web server runs (the login reports its port): the login on a
// thread of its own, then the heartbeat and, when XferRetryInterval asks for
// it, the resumption of interrupted transfers.
void StartBrokerSession(Shell& shell);
// StartHTTP failed: the device logs out whatever its state.
void LogoutAfterFailedStart(Shell& shell);
// A stop request: every outbound request under way ends at once; later
// ones (the logout) get a short grace. Any thread.
void StopBrokerRequests();
// Shutdown: the heartbeat has been told to stop; the login at start is
// given a moment to end, then the device logs out when it is online.
void EndBrokerSession(Shell& shell);
// Command 40008.
void UserLogoutOnExit(Shell& shell);

}  // namespace shell
