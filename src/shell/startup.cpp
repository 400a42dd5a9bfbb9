#include <cstdlib>
#include <string>
#include <string_view>

#include "common/device.h"
#include "common/log.h"
#include "common/settings.h"
#include "identity/device_identity.h"
#include "net/proxy_settings.h"
#include "platform/process.h"
#include "platform/process_lock.h"
#include "platform/socket.h"
#include "records/startup_passes.h"
#include "server/listener.h"
#include "server/module_host.h"
#include "session/device_messages.h"
#include "shell/session_seam.h"
#include "shell/shell.h"
#include "shell/window_lines.h"

namespace shell {
namespace {

constexpr char kBanner[] = "---------------------------------------------";

enum class Start { kRunning, kFailed };

void LogBanner(const char* text) {
  QvLog* log = QvLog::GetInstance();
  log->Write(kBanner, 3);
  log->Write(text, 3);
  log->Write(kBanner, 3);
}

bool StartWebServer(Shell& shell) {
  QvSettings* settings = QvSettings::GetInstance();
  const std::string port = settings->AppPort();
  const std::string root = settings->AppPath();
  ServerStartParams params;
  params.nPort = std::atoi(port.c_str());
  params.szWebRoot = root.c_str();
  params.pDevice = shell.device.get();
  params.pLock = &shell.lock;
  // Modules get the main window as an opaque handle: the queue that stands
  // in for it, which lives as long as the process.
  params.hOwner = &shell.queue;
  if (StartHTTP(params) != 0) return true;
  QvLog* log = QvLog::GetInstance();
  log->Write("Unable to StartHTTP", 1);
  log->WriteString(
      "StartHTTP failed - you may wish to check that the port is freed: szPort = ", port, 3);
  ReadBrowserProxy(nullptr);
  LogoutAfterFailedStart(shell);
  return false;
}

// Steps up to the message loop; the exit code is set when it fails.
Start Initialise(Shell& shell, int argc, char** argv, int* exit_code) {
  QvLog* log = QvLog::GetInstance();
  if (argc < 2 || std::string_view(argv[1]) != "-wbx") {
    log->Write("===>No vaneboot flag - exiting.", 3);
    platform::Process::Start("./vaneboot.exe", {}, "vaneboot.exe");
    *exit_code = -2;
    return Start::kFailed;
  }
  LogBanner("Starting QvServer");
  if (platform::WindowExists(kWindowTitle)) {
    log->Write("Yxnet is already running. Exiting", 3);
    BringYxshareForwardOrStart();
    *exit_code = -1;
    return Start::kFailed;
  }
  shell.window = platform::WindowEndpoint::Create(kWindowTitle, PostWindowLine);
  *exit_code = 0;
  if (!shell.window) return Start::kFailed;
  shell.heartbeat_stop = std::make_unique<platform::Event>(false, false);
  // Many idle browser connections must not starve accept of descriptors.
  platform::RaiseDescriptorLimit();

  shell.device = std::make_unique<QvDevice>();
  shell.device->LoadConfiguration();
  shell.device->BuildModuleList(kServerRevision);
  shell.device->SetOnlineState(IsOnline());
  SetRecordLock(&shell.lock);
  StartBrokerSession(shell);

  SetMainWindowPoster(
      [](int command, std::string text) { PostMessage(WM_COMMAND, command, std::move(text)); });
  if (!StartWebServer(shell)) return Start::kFailed;
  // The record lock keeps these passes and a resumption the heartbeat may
  // already have started from meeting inside the files.
  records::RunStartupPasses(&shell.lock, QvSettings::GetInstance()->TransactionFilter(),
                            records::SystemNowSeconds());
  if (argc == 3 && std::string_view(argv[2]) == "-pla") BringYxshareForwardOrStart();
  return Start::kRunning;
}

intptr_t RunMessageLoop(Shell& shell) {
  for (;;) {
    platform::Message message = shell.queue.Get();
    if (message.id == WM_QUIT) return message.wparam;
    MainWndProc(message);
  }
}

}  // namespace

Shell& TheShell() {
  static Shell* shell = new Shell();  // lives as long as the process: threads use it
  return *shell;
}

void PostMessage(uint32_t id, intptr_t wparam, std::string payload) {
  TheShell().queue.Post(platform::Message{id, wparam, std::move(payload)});
}

int PeerServerMain(int argc, char** argv) {
  // Before any thread starts, so the signals reach only their own thread.
  platform::OnTerminationRequest([] { PostMessage(WM_CLOSE); });
  // A broker or proxy that hangs up while the login's TLS record goes out
  // must not end the program (TLS writes cannot be told to spare the signal).
  platform::IgnoreBrokenPipes();
  Shell& shell = TheShell();
  platform::InitProcessLock(&shell.lock);
  int exit_code = 0;
  if (Initialise(shell, argc, argv, &exit_code) == Start::kFailed) return exit_code;
  intptr_t quit_code = RunMessageLoop(shell);
  ShutdownServer();
  return static_cast<int>(quit_code);
}

}  // namespace shell
