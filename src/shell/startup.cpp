#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "base/log.h"
#include "base/settings.h"
#include "device/device.h"
#include "device/device_identity.h"
#include "device/proxy_settings.h"
#include "device/working_directory.h"
#include "host/module_host.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/process_lock.h"
#include "platform/socket.h"
#include "platform/system_proxy.h"
#include "records/startup_passes.h"
#include "server/listener.h"
#include "session/device_messages.h"
#include "session/exit_with_instructions.h"
#include "shell/console.h"
#include "shell/running_copy.h"
#include "shell/session_seam.h"
#include "shell/shell.h"
#include "shell/standing_view.h"
#include "shell/tray.h"
#include "shell/window_lines.h"

namespace shell {
namespace {

constexpr char kBanner[] = "---------------------------------------------";
// The tray icon's image, installed beside the program.
constexpr char kTrayIconFile[] = "yxnet-tray.png";

enum class Start { kRunning, kFailed };

void LogBanner(const char* text) {
  QvLog* log = QvLog::GetInstance();
  log->Write(kBanner, 3);
  log->Write(text, 3);
  log->Write(kBanner, 3);
}

// vane.ini holds the device key and proxy credentials: a copy made
// readable by others (an install, a script) is closed once here, and every
// later write keeps the mode it finds.
void ProtectSettingsFile() {
  auto restricted = platform::RestrictToOwner("vane.ini");
  if (restricted.value) {
    QvLog::GetInstance()->Write("vane.ini was readable by others: now by its owner only", 1);
  }
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
  ReadBrowserProxy();
  LogoutAfterFailedStart(shell);
  return false;
}

// Winsock 2.2, or the reason why not (elsewhere there is nothing to start).
bool StartSocketLibrary() {
  QvLog* log = QvLog::GetInstance();
  switch (platform::StartSockets()) {
    case platform::SocketsStart::kStarted:
      return true;
    case platform::SocketsStart::kFailed:
      log->Write("Initialize Winsock failed", 1);
      Say("the socket library (Winsock 2.2) could not be started");
      return false;
    case platform::SocketsStart::kWrongVersion:
      log->Write("Wrong WinSock Version", 1);
      Say("the socket library does not offer Winsock 2.2");
      return false;
  }
  return false;
}

// Steps up to the message loop; the exit code is set when it fails.
Start Initialise(Shell& shell, int argc, char** argv, int* exit_code) {
  QvLog* log = QvLog::GetInstance();
  if (argc < 2 || std::string_view(argv[1]) != "-wbx") {
    log->Write("===>No vaneboot flag - exiting.", 3);
    Say("started without -wbx: starting ./vaneboot.exe instead (see peerserver --help)");
    platform::Process::Start("./vaneboot.exe", {}, "vaneboot.exe");
    *exit_code = -2;
    return Start::kFailed;
  }
  LogBanner("Starting QvServer");
  if (platform::WindowExists(kWindowTitle)) {
    log->Write("Yxnet is already running. Exiting", 3);
    // The running copy's own page: its port need not be the one this
    // directory's vane.ini names.
    if (std::optional<RunningCopy> running = ReadRunningCopy()) {
      Say("already running in " + running->work + "; its start page: " + running->start_page);
    } else {
      Say("already running (still starting: its start page is not known yet)");
    }
    BringYxshareForwardOrStart();
    *exit_code = -1;
    return Start::kFailed;
  }
  shell.window = platform::WindowEndpoint::Create(kWindowTitle, PostWindowLine);
  *exit_code = 0;
  if (!shell.window) return Start::kFailed;
  ForgetStartPage();  // a crashed copy's
  platform::OpenedDesktop desktop =
      platform::OpenDesktop(platform::ProgramDirectory() + "/" + kTrayIconFile);
  shell.desktop = std::move(desktop.desktop);
  if (!desktop.problem.empty()) log->WriteString("No tray icon", desktop.problem, 1);
  SetUpgradeNotice(ShowUpgradeNotice);
  // Here only a want of memory can fail it.
  shell.heartbeat_stop.reset(new (std::nothrow) platform::Event(false, false));
  if (!shell.heartbeat_stop) {
    log->Write("Failed to create Event object for Heartbeat Termination", 1);
    return Start::kFailed;
  }
  if (!StartSocketLibrary()) return Start::kFailed;
  // Many idle browser connections must not starve accept of descriptors.
  platform::RaiseDescriptorLimit();

  CheckStartup();
  ProtectSettingsFile();
  shell.device = std::make_unique<QvDevice>();
  shell.device->LoadConfiguration();
  shell.device->BuildModuleList(kServerRevision);
  shell.device->SetOnlineState(IsOnline());
  SetRecordLock(&shell.lock);
  WatchStanding();
  PrepareBrokerSession(shell);

  SetMainWindowPoster(
      [](int command, std::string text) { PostMessage(WM_COMMAND, command, std::move(text)); });
  // The port is bound and served before the login, which reports it: the
  // start page is there whatever the broker does.
  if (!StartWebServer(shell)) {
    Say("the web server could not start on port " + QvSettings::GetInstance()->AppPort() +
        " or any of 82-100, 4080-4999");
    return Start::kFailed;
  }
  RecordStartPage({StartPageAddress(shell.device->GetAppPort()), platform::CurrentDirectory()});
  SayStarted(*shell.device);
  // The login, the heartbeat and the resumption of transfers (which reads
  // the whole transfer file) go on beside the pages from here.
  StartBrokerSession(shell);
  // The record lock keeps these passes and a resumption the login at start
  // or the heartbeat may already have started from meeting inside the
  // files. A stop request ends them between chunks.
  records::RunStartupPasses(&shell.lock, QvSettings::GetInstance()->TransactionFilter(),
                            records::SystemNowSeconds(),
                            [&shell] { return shell.stop_requested.load(); });
  AddTrayIcon(kTrayTip);
  ShowStanding();
  if (argc == 3 && std::string_view(argv[2]) == "-pla") BringYxshareForwardOrStart();
  return Start::kRunning;
}

intptr_t RunMessageLoop(Shell& shell) {
  return shell.desktop->Run(shell.queue, WM_QUIT,
                            [](const platform::Message& message) { MainWndProc(message); });
}

}  // namespace

Shell& TheShell() {
  // Lives as long as the process: threads use it. Its lock comes first, as
  // modules and record files are handed it.
  static Shell* shell = [] {
    auto* made = new Shell();
    platform::InitProcessLock(&made->lock);
    return made;
  }();
  return *shell;
}

void PostMessage(uint32_t id, intptr_t wparam, std::string payload, intptr_t lparam) {
  TheShell().queue.Post(platform::Message{id, wparam, lparam, std::move(payload)});
}

void RequestStop() {
  TheShell().stop_requested.store(true);
  StopBrokerRequests();
}

int PeerServerMain(int argc, char** argv) {
  if (std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
  // It may set the desktop's session variables: before any thread runs.
  platform::PrepareSystemProxy();
  // Before the log starts: it takes its level from the settings there.
  const SettledWorkingDirectory settled = SettleWorkingDirectory();
  if (!settled.chosen) {
    SayFailure(settled.problem);
    return 1;
  }
  Say("working in " + settled.chosen->path + ": " + WhyWorkingThere(*settled.chosen));
  // Before any thread starts, so the signals reach only their own thread.
  platform::OnTerminationRequest([] {
    RequestStop();
    PostMessage(WM_CLOSE);
  });
  // A broker or proxy that hangs up while the login's TLS record goes out
  // must not end the program (TLS writes cannot be told to spare the signal).
  platform::IgnoreBrokenPipes();
  Shell& shell = TheShell();
  int exit_code = 0;
  if (Initialise(shell, argc, argv, &exit_code) == Start::kFailed) return exit_code;
  intptr_t quit_code = RunMessageLoop(shell);
  DestroyTrayMenu();
  ShutdownServer();
  return static_cast<int>(quit_code);
}

}  // namespace shell
