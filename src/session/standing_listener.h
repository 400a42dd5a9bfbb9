// Where the broker session tells the shell that the device's standing with
// its broker may have changed (a login began or ended, a beat ended), so
// that the terminal and the tray's tooltip follow. The shell installs the
// listener at start-up; it runs on the session's thread and must only post.
#pragma once

#include <functional>

void SetStandingListener(std::function<void()> listener);
void NotifyStandingChanged();
