// peerserver's application shell: the entry point, the hidden main window
// (a message queue that MainWndProc drains on the main thread's desktop
// loop), the tray, and ShutdownServer. Other threads and other processes
// reach the main thread only by posting messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/event.h"
#include "platform/message_queue.h"
#include "platform/native_types.h"
#include "platform/window_endpoint.h"

class QvDevice;

namespace shell {

// Message numbers as the window procedure knows them.
enum : uint32_t {
  WM_DESTROY = 0x0002,
  WM_CLOSE = 0x0010,
  WM_QUERYENDSESSION = 0x0011,
  WM_QUIT = 0x0012,
  WM_COMMAND = 0x0111,
  kQuovaneMessage = 0xC000,  // the message registered as "Quovane"
  kTrayCallback = 0x8000 + 100,
  kStandingMessage = 0x8000 + 101,  // the broker session's standing may have changed
};

inline constexpr int kTrayIconId = 107;

// Commands of WM_COMMAND.
enum : int {
  kCommandExit = 40001,
  kCommandAbout = 40002,
  kCommandLaunchYxshare = 40003,
  kCommandCloseYxshare = 40004,
  kCommandLaunchYxphoto = 40006,
  kCommandLaunchYxmsg = 40007,
  kCommandUserLogout = 40008,
  kCommandDisplayHelp = 40009,
};

inline constexpr char kWindowTitle[] = "Yxnet";
inline constexpr char kServerRevision[] = "$Revision: 1.160 $";

struct Shell {
  platform::MessageQueue queue;
  platform::ProcessLock lock;
  std::unique_ptr<platform::WindowEndpoint> window;
  std::unique_ptr<platform::Event> heartbeat_stop;  // "Heartbeat Termination", auto-reset
  std::unique_ptr<QvDevice> device;
  // Draws the tray and dialogs; the plain loop until a desktop is opened.
  std::unique_ptr<platform::Desktop> desktop;
  std::optional<std::vector<platform::MenuItem>> tray_menu;  // main thread only
  std::string told_standing;  // what the terminal and the log last heard; main thread only
  std::atomic<bool> shut_down{false};
  // A stop was asked for: long start-up work ends early.
  std::atomic<bool> stop_requested{false};
  // Set when the login at start and what follows it are done (or were not
  // tried); they run on a thread of their own, not joined: the quit for an
  // upgrade may end the process from another thread.
  platform::Event session_started{true, false};
};

Shell& TheShell();

// The program: returns its exit code.
int PeerServerMain(int argc, char** argv);
// Runs at most once per process.
void ShutdownServer();
// A stop was asked for (a termination signal, Exit, WM_CLOSE, the session's
// end): long start-up work and every outbound request under way end now,
// whatever login or beat is waiting for its broker. Any thread.
void RequestStop();
// Handles one message of the main window; false ends the message loop.
bool MainWndProc(const platform::Message& message);
void PostMessage(uint32_t id, intptr_t wparam = 0, std::string payload = {}, intptr_t lparam = 0);

// Companions: the file-sharing application's window is found by its title;
// the programs are files of the working directory.
void BringYxshareForwardOrStart();
void CloseYxshare();
void LaunchYxphoto();
void LaunchYxmsg();

}  // namespace shell
