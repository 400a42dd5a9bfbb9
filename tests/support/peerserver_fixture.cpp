#include "support/peerserver_fixture.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <iostream>

#include "base/ini_file.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUid = kPeerServerDeviceUid;
constexpr const char* kSid = kPeerServerDeviceSid;
constexpr auto kStartTimeout = std::chrono::seconds(60);

constexpr char kHoldConnections[] = R"(
import select, socket, sys, time
port = int(sys.argv[1])
held = []
for entry in sys.argv[2:]:
    source, count = entry.split('=')
    for _ in range(int(count)):
        s = socket.socket()
        s.bind((source, 0))
        s.connect(('127.0.0.1', port))
        held.append(s)
print('connected', len(held), flush=True)
poller = select.poll()
for s in held:
    poller.register(s, select.POLLIN)
closed = 0
deadline = time.monotonic() + 20
while closed < len(held) and time.monotonic() < deadline:
    for fd, _ in poller.poll(500):
        poller.unregister(fd)
        closed += 1
        print('closed', closed, flush=True)
)";

}  // namespace

std::vector<std::string> HoldConnections(uint16_t port, const std::vector<std::string>& groups) {
  std::vector<std::string> argv = {JSON_PYTHON, "-c", kHoldConnections, std::to_string(port)};
  argv.insert(argv.end(), groups.begin(), groups.end());
  return argv;
}

std::vector<std::string> SanitizerEnvironment() {
  const char* tsan = std::getenv("TSAN_OPTIONS");
  const char* lsan = std::getenv("LSAN_OPTIONS");
  return {std::string("TSAN_OPTIONS=") + (tsan != nullptr ? tsan : "") +
              ":suppressions=" TSAN_SUPPRESSIONS,
          std::string("LSAN_OPTIONS=") + (lsan != nullptr ? lsan : "") +
              ":suppressions=" LSAN_SUPPRESSIONS};
}

PeerServer::PeerServer(PeerServerOptions options)
    : PeerProcess("peerserver-"), options_(std::move(options)) {
  work_ = dir_ / "work";
  doc_ = dir_ / "doc";
  root_ = dir_ / "root";
  session_ = dir_ / "session";
  fs::create_directories(work_ / "vclient");
  fs::create_directories(doc_);
  fs::create_directories(session_);
  fs::permissions(session_, fs::perms::owner_all);
  fs::copy(WEBROOT_DIR, root_, fs::copy_options::recursive);
  fs::copy_file(root_ / "vclient" / "port.htx", work_ / "vclient" / "port.htx");

  WriteText(work_ / "vaneboot.exe", "#!/bin/sh\necho started >> vaneboot-ran\n");
  fs::permissions(work_ / "vaneboot.exe", fs::perms::owner_all);

  for (const auto& [path, bytes] : options_.work_files) {
    fs::create_directories((work_ / path).parent_path());
    WriteText(work_ / path, bytes);
  }
  std::string listed;
  for (const auto& [library, name] : options_.modules) {
    fs::copy_file(library, root_ / name, fs::copy_options::overwrite_existing);
    // Device messages load modules from the working directory.
    fs::copy_file(library, work_ / name, fs::copy_options::overwrite_existing);
    listed += name + ";";
  }
  configured_port_ = FreeLoopbackPort();
  std::map<std::string, std::string> settings = {
      {"LogLevel", "3"},
      {"AppPath", root_.string()},
      {"AppPort", std::to_string(configured_port_)},
      {"AllowHosts", "127.0.0.1"},
      {"AllowFiles", "*.html;*.js;*.css;*.ico;*.bin"},
      {"DefaultPage", "index.html"},
  };
  if (!listed.empty()) settings["Modules"] = listed;
  if (options_.with_broker) {
    std::vector<std::string> broker_args = {
        "--device", std::string("deviceUID=") + kUid + "&deviceSID=" + kSid};
    broker_args.insert(broker_args.end(), options_.broker_args.begin(), options_.broker_args.end());
    broker_ = std::make_unique<QvBrokerFixture>(QVBROKER_PROGRAM, std::move(broker_args));
    if (!broker_->ok()) {
      failure_ = broker_->failure();
      return;
    }
    settings.merge(broker_->DeviceSettings());
    settings["DeviceUID"] = kUid;
    settings["DeviceSID"] = kSid;
    settings["proxyRecorded"] = "1";
  } else {
    // No broker: the login is refused at once and the device runs offline.
    settings["BrokerIP"] = "127.0.0.1";
    settings["BrokerPort"] = std::to_string(FreeLoopbackPort());
    settings["BrokerSecurePort"] = std::to_string(FreeLoopbackPort());
  }
  for (const auto& [key, value] : options_.settings) settings[key] = value;
  WriteText(work_ / "vane.ini", IniText(settings));

  if (!options_.wait_ready) {
    process_ = ChildProcess::Start("/usr/bin/env", EnvArgs(options_.args), dir_ / "peerserver.out");
    if (!process_) failure_ = "cannot start " + Program();
    return;
  }
  // "LogLevel: " is logged once the listen thread runs; "Login at start: "
  // once that login ended or was passed over.
  const char* ready = options_.wait_login ? "): Login at start: " : "): LogLevel: ";
  if (!Launch("/usr/bin/env", EnvArgs(options_.args), "peerserver.out",
              [&] { return ReadText(work_ / "QvDebug.log").find(ready) != std::string::npos; },
              kStartTimeout, {"work/QvDebug.log"})) {
    return;
  }
  idle_threads_ = ThreadCount();
  port_ = static_cast<uint16_t>(std::atoi(Setting("AppPort").c_str()));
  if (port_ == 0) failure_ = "no AppPort after start";
}

PeerServer::~PeerServer() {
  if (process_ && process_->Running()) {
    const int status = Terminate();
    EXPECT_EQ(status, 0) << "peerserver did not end cleanly\n" << Output();
  } else if (::testing::Test::HasFailure() && process_) {
    // It ended on its own (a sanitizer report, a crash): say so beside the
    // failure it caused.
    const std::optional<int> status = process_->WaitFor(std::chrono::seconds(0));
    std::cerr << "peerserver had ended with status " << status.value_or(-1) << "; its output:\n"
              << Output() << std::endl;
  }
  StopProcess();
  const std::string log = Log() + Output();
  for (const char* secret : kProxySecrets) {
    EXPECT_EQ(log.find(secret), std::string::npos) << "peerserver logged a password: " << secret;
  }
  broker_.reset();
}

std::vector<std::string> PeerServer::EnvArgs(const std::vector<std::string>& args) const {
  // No desktop and no proxy unless the test gives them: a developer's
  // display must not get icons, nor a developer's session make runs differ
  // from CI's. GTK's accessibility bridge is not under test: with it, GTK
  // connects to the accessibility bus and leaves libdbus allocations the
  // leak check reports.
  std::vector<std::string> argv = {"-C", work_.string()};
  for (const char* name :
       {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_CURRENT_DESKTOP",
        "GNOME_DESKTOP_SESSION_ID", "DESKTOP_SESSION", "KDE_FULL_SESSION", "http_proxy",
        "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
    argv.insert(argv.end(), {"-u", name});
  }
  argv.push_back("XDG_RUNTIME_DIR=" + session_.string());
  // Were vane.ini ever missing, the account's folder would be made here.
  argv.push_back("XDG_STATE_HOME=" + (dir_ / "state").string());
  argv.push_back("NO_AT_BRIDGE=1");
  for (const std::string& option : SanitizerEnvironment()) argv.push_back(option);
  for (const auto& [name, value] : options_.environment) argv.push_back(name + "=" + value);
  argv.insert(argv.end(), options_.launcher.begin(), options_.launcher.end());
  argv.push_back(Program());
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::optional<int> PeerServer::RunSecondCopy(const std::vector<std::string>& args,
                                             std::chrono::milliseconds timeout) {
  std::unique_ptr<ChildProcess> second =
      ChildProcess::Start("/usr/bin/env", EnvArgs(args), dir_ / "second.out");
  if (!second) return std::nullopt;
  return second->WaitFor(timeout);
}

std::optional<int> PeerServer::WaitExit(std::chrono::milliseconds timeout) {
  return process_ ? process_->WaitFor(timeout) : std::nullopt;
}

void PeerServer::WaitForIdleThreads() const {
  // Connection threads are detached; a process ended while one finishes
  // is a true race that the thread sanitizer would report.
  if (idle_threads_ > 0) {
    WaitUntil([&] { return ThreadCount() <= idle_threads_; }, std::chrono::seconds(30));
  }
}

int PeerServer::Terminate() {
  if (!process_) return -1;
  WaitForIdleThreads();
  return process_->Stop(std::chrono::seconds(30));
}

void PeerServer::Signal(int signal) {
  if (process_ && process_->Running()) ::kill(process_->pid(), signal);
}

std::string PeerServer::Output() const { return ReadText(dir_ / "peerserver.out"); }

std::string PeerServer::Log() const {
  if (fs::exists(work_ / "QvDebug.log")) return ReadText(work_ / "QvDebug.log");
  return ReadText(work_ / "QvDebuglog.bak");
}

std::string PeerServer::Setting(const std::string& key) const {
  return std::string(IniFind(ReadText(work_ / "vane.ini"), "Quovane", key).value_or(""));
}

long PeerServer::ThreadCount() const {
  return EntryCount(fs::path("/proc") / std::to_string(pid()) / "task");
}

long PeerServer::DescriptorCount() const {
  return EntryCount(fs::path("/proc") / std::to_string(pid()) / "fd");
}

std::string PeerServer::Maps() const {
  return ReadText(fs::path("/proc") / std::to_string(pid()) / "maps");
}

std::string PeerServer::Program() const {
  return options_.program.empty() ? PEERSERVER_PROGRAM : options_.program;
}
