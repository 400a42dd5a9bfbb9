#include "support/local_server.h"

#include <cstdlib>

#include "common/device.h"
#include "common/log.h"
#include "common/module_entry.h"
#include "common/settings.h"
#include "platform/process_lock.h"
#include "server/listener.h"
#include "support/child_process.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr char kModules[] =
    "QvExampleModule.dll;BytesSentModule.dll;ThrowingModule.dll;NoExportsModule.dll;"
    "SlowModule.dll;";

long ThreadCount() {
  long count = 0;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    (void)task;
    ++count;
  }
  return count;
}

void CopyModule(const fs::path& root, const char* built, const char* listed) {
  fs::copy_file(fs::path(TEST_MODULE_DIR) / built, root / listed,
                fs::copy_options::overwrite_existing);
}

}  // namespace

LocalServer& LocalServer::Instance() {
  static LocalServer* server = new LocalServer();  // never destroyed: threads use it
  server->EnterWorkDir();
  return *server;
}

LocalServer::LocalServer() {
  dir_ = MakeTempDir("qvserver-");
  work_ = dir_ / "work";
  doc_ = dir_ / "doc";
  root_ = dir_ / "root";
  for (const fs::path& made : {work_, doc_, root_, work_ / "vclient", root_ / "vclient"}) {
    fs::create_directories(made);
  }
  if (!Start()) port_ = 0;
  // No connection yet: the threads of a server at rest.
  static long idle_threads = ThreadCount();
  // Registered after StartHTTP made the server's own statics, so this runs
  // before they are destroyed. Client threads are detached: the last ones
  // may still be finishing.
  static const fs::path* made = &dir_;
  std::atexit([] {
    WaitUntil([] { return ThreadCount() <= idle_threads; }, std::chrono::seconds(30));
    StopHTTP();
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(*made, ignored);
  });
}

bool LocalServer::Start() {
  WriteText(work_ / "vclient" / "port.htx", "var QvPort = [%PORT%];\n");
  WriteText(root_ / "index.html", "<html><body><h1>Start</h1></body></html>\n");
  WriteText(root_ / "vclient" / "engine.html", "<html><body>Device</body></html>\n");
  WriteText(root_ / "vclient" / "status.js", "var shown = 1;\n");
  WriteText(root_ / "empty.html", "");
  WriteText(root_ / "secret.txt", "not for the browser\n");
  big_file_.resize(3 * 8192 + 123);
  for (size_t i = 0; i < big_file_.size(); ++i) {
    big_file_[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  }
  WriteText(root_ / "big.bin", big_file_);
  CopyModule(root_, "QvExampleModule.dll", "QvExampleModule.dll");
  CopyModule(root_, "BytesSentModule.dll", "BytesSentModule.dll");
  CopyModule(root_, "ThrowingModule.dll", "ThrowingModule.dll");
  CopyModule(root_, "NoExportsModule.dll", "NoExportsModule.dll");
  CopyModule(root_, "SlowModule.dll", "SlowModule.dll");
  CopyModule(root_, "QvExampleModule.dll", "QvTransferModule.dll");
  CopyModule(root_, "QvExampleModule.dll", "QvShareModule.dll");

  fs::current_path(work_);
  configured_port_ = FreeLoopbackPort();
  WriteText("vane.ini", IniText({{"LogLevel", "3"},
                                 {"AppPort", std::to_string(configured_port_)},
                                 {"AppPath", root_.string()},
                                 {"AllowHosts", "127.0.0.1"},
                                 {"AllowFiles", "*.html;*.bin;*.js;vclient"},
                                 {"AppIP", "127.0.0.1"},
                                 {"DefaultPage", kDefaultPage},
                                 {"Modules", kModules}}));
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
  params.nPort = configured_port_;
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

void LocalServer::EnterWorkDir() const {
  std::error_code ignored;
  if (fs::current_path(ignored) != work_) fs::current_path(work_, ignored);
}
