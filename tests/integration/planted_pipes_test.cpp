// A pipe planted at a name the agent opens is refused, not opened (an open
// would block until someone writes to it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kWait = std::chrono::seconds(30);

// Plants a pipe at $PLANT (relative to the working directory), then runs
// the program as systemd would: standard error is the journal's stream.
constexpr char kPlantLauncher[] =
    "mkdir -p \"$(dirname \"$PLANT\")\" && rm -f \"$PLANT\" && mkfifo \"$PLANT\" || exit 99\n"
    "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2)\n"
    "exec \"$@\"\n";

bool SaysRefused(const std::string& output, const std::string& name) {
  for (const std::string& line : SplitLines(output)) {
    if (line.starts_with("<3>Refused to open, not a regular file: ") &&
        line.ends_with(fs::path(name).filename().string())) {
      return true;
    }
  }
  return false;
}

// The port of the start page that Yxnet.page names, once it is there.
uint16_t ServingPort(const PeerServer& server) {
  const std::string page = ReadText(server.session() / "Yxnet.page");
  const size_t colon = page.find(':', page.find("//"));
  return colon == std::string::npos ? 0
                                    : static_cast<uint16_t>(std::atoi(page.c_str() + colon + 1));
}

struct RemovePipes {
  fs::path work;
  std::string name;
  ~RemovePipes() {
    for (const fs::path& planted : {work / name, work / "QvDebuglog.bak"}) {
      if (fs::is_fifo(planted)) fs::remove(planted);
    }
  }
};

}  // namespace

TEST(PlantedPipes, AreRefusedNotOpened) {
  struct Case {
    const char* name;
    bool upload;  // read by the diagnostic's log upload, not at start
  };
  const Case cases[] = {
      {"QvDebug.log", false},   {"LOG_MUTEX.lock", false}, {"vane.ini", false},
      {"vane.ini.lock", false}, {"../doc/port.js", false}, {"qvxfer.dat", false},
      {"QvDebuglog.bak", true}, {"yxmeeting.log", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PeerServerOptions options;
    options.work_files = {{"plant.sh", kPlantLauncher}};
    options.launcher = {"/bin/sh", "plant.sh"};
    options.environment = {{"PLANT", c.name}};
    options.wait_ready = false;
    if (c.upload) {
      options.with_broker = true;
      options.modules = {{DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"}};
    }
    PeerServer server(options);
    // Gone before the server object reads the log: no pipe may be left to
    // block it, whatever failed (the log's move at the end takes a pipe at
    // its name along).
    const RemovePipes remove_pipes{server.work(), c.name};
    ASSERT_TRUE(server.ok()) << server.failure();
    ASSERT_TRUE(WaitUntil([&] { return ServingPort(server) != 0; }, kWait)) << server.Output();
    const uint16_t port = ServingPort(server);
    EXPECT_TRUE(Get(port, "/index.html").answer.starts_with("HTTP/1.0 ")) << server.Output();
    if (c.upload) {
      EXPECT_TRUE(
          Contains(Get(port, "/QvDiagnosticModule.dll?operation=postfile").answer, "postfile=200"));
    }
    EXPECT_TRUE(WaitUntil([&] { return SaysRefused(server.Output(), c.name); }, kWait))
        << server.Output();
    EXPECT_TRUE(fs::is_fifo(server.work() / c.name));
    EXPECT_EQ(server.Terminate(), 0) << server.Output();
  }
}
