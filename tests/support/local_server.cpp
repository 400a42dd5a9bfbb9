#include "support/local_server.h"

#include <cstdlib>

#include "base/log.h"
#include "base/settings.h"
#include "device/device.h"
#include "device/module_entry.h"
#include "platform/process_lock.h"
#include "server/listener.h"
#include "support/child_process.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kModules[] = {"QvExampleModule.dll", "ThrowingModule.dll", "SlowModule.dll"};

}  // namespace

LocalServer& LocalServer::Instance() {
  static LocalServer* server = new LocalServer();  // never destroyed: threads use it
  std::error_code ignored;
  if (fs::current_path(ignored) != server->work_) fs::current_path(server->work_, ignored);
  return *server;
}

LocalServer::LocalServer() {
  dir_ = MakeTempDir("qvserver-");
  work_ = dir_ / "work";
  root_ = dir_ / "root";
  for (const fs::path& made : {dir_ / "doc", root_, work_ / "vclient"}) {
    fs::create_directories(made);
  }
  if (!Start()) port_ = 0;
  // No connection yet: the threads of a server at rest.
  static long idle_threads = EntryCount("/proc/self/task");
  // Registered after StartHTTP made the server's own statics, so this runs
  // before they are destroyed. Client threads are detached: the last ones
  // may still be finishing.
  static const fs::path* made = &dir_;
  std::atexit([] {
    WaitUntil([] { return EntryCount("/proc/self/task") <= idle_threads; },
              std::chrono::seconds(30));
    StopHTTP();
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(*made, ignored);
  });
}

bool LocalServer::Start() {
  WriteText(work_ / "vclient" / "port.htx", "var QvPort = [%PORT%];\n");
  std::string listed;
  for (const char* module : kModules) {
    fs::copy_file(fs::path(TEST_MODULE_DIR) / module, root_ / module,
                  fs::copy_options::overwrite_existing);
    listed += std::string(module) + ";";
  }
  fs::current_path(work_);
  const uint16_t configured_port = FreeLoopbackPort();
  WriteText("vane.ini", IniText({{"LogLevel", "3"},
                                 {"AppPort", std::to_string(configured_port)},
                                 {"AppPath", root_.string()},
                                 {"AllowHosts", "127.0.0.1"},
#ifdef _WIN32
                                 // Wine's TCP table names no process for
                                 // some fresh loopback connections, so whose
                                 // they are cannot always be learned there.
                                 {"AllowOtherUsers", "1"},
#endif
                                 {"Modules", listed}}));
  QvLog::ReleaseInstance();
  QvSettings::ReleaseInstance();

  device_ = new QvDevice();
  if (device_->LoadConfiguration() != 0) {
    failure_ = "the device configuration did not load";
    return false;
  }
  device_->BuildModuleList("$Revision: 1.160 $");
  // Online, so that module requests reach their modules (an offline device
  // gets redirects instead).
  device_->SetOnlineState(true);
  static platform::ProcessLock lock;
  platform::InitProcessLock(&lock);
  ServerStartParams params;
  params.nPort = configured_port;
  const std::string root = root_.string();
  params.szWebRoot = root.c_str();
  params.pDevice = device_;
  params.pLock = &lock;
  if (StartHTTP(params) != 1) {
    failure_ = "StartHTTP failed";
    return false;
  }
  // Another program may have taken the chosen port meanwhile; the server
  // then bound the next candidate and says which in AppPort.
  port_ = static_cast<uint16_t>(std::atoi(QvSettings::GetInstance()->AppPort().c_str()));
  if (port_ == 0) failure_ = "no AppPort after StartHTTP";
  return port_ != 0;
}

int LocalServer::UseCount(const char* module) const {
  QvModule* entry = device_->FindModule(module);
  return entry != nullptr ? entry->GetUseCount() : -1;
}
