// The device's standing with its broker where a person looks: the tray's
// tooltip, a line on the terminal and a level-1 log line (the journal's
// under systemd). The session reports that the standing may have changed;
// the main thread shows it. A login under way shows in the tooltip only,
// so that a login the heartbeat retries every beat does not fill the
// terminal and the log with the same two lines.
#pragma once

namespace shell {

// The session's changes reach the main thread as kStandingMessage.
void WatchStanding();
// Shows the standing now. Main thread only.
void ShowStanding();

}  // namespace shell
