// What a person sees: the start page in headless Chromium with the broker up
// and down, the command line's texts, the lines on a terminal, and an
// installed copy started from its log-on entry in another directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kWait = std::chrono::seconds(30);

// Runs peerserver with a terminal on its standard error.
constexpr char kTerminalLauncher[] = "exec script -qefc \"$*\" /dev/null\n";

// The artifacts folder beside the test's working directory (build/tests).
fs::path Screenshot(const std::string& url, const std::string& name) {
  const fs::path folder = fs::current_path() / "artifacts";
  fs::create_directories(folder);
  const fs::path file = folder / name;
  const fs::path profile = fs::temp_directory_path() / ("chromium-shot-" + name);
  RunCommand({ChromiumProgram(), "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--user-data-dir=" + profile.string(), "--virtual-time-budget=3000",
              "--window-size=900,700", "--screenshot=" + file.string(), url},
             std::chrono::seconds(60));
  fs::remove_all(profile);
  return file;
}

}  // namespace

TEST(StartPage, ShowsTheBrokerStateItsReasonAndLabelledDetails) {
  if (ChromiumProgram().empty()) GTEST_SKIP() << "chromium is not installed";
  struct Case {
    bool broker_up;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {true,
       {"<span id=\"state\">online</span>", "<td id=\"tls\">verified</td>", "status 200",
        "<td id=\"proxy\">none</td>"}},
      // Registered, but nobody listens on the broker's ports.
      {false, {"<span id=\"state\">offline</span>", "Connection refused", "not tried yet"}},
  };
  for (const Case& c : cases) {
    PeerServerOptions options;
    options.with_broker = c.broker_up;
    options.modules = {{STATUS_MODULE, "QvStatusModule.dll"}};
    if (!c.broker_up) {
      options.settings = {{"DeviceUID", kPeerServerDeviceUid}, {"DeviceSID", kPeerServerDeviceSid}};
    }
    PeerServer server(options);
    ASSERT_TRUE(server.ok()) << server.failure();
    const std::string page = "http://127.0.0.1:" + std::to_string(server.port()) + "/index.html";
    if (c.broker_up) {
      // The first beat has its answer.
      ASSERT_TRUE(WaitUntil(
          [&] { return server.Log().find("HeartbeatThread status is OK") != std::string::npos; },
          kWait));
    }
    const std::string dom = DumpDom(page);
    for (const std::string& word : c.words) {
      EXPECT_NE(dom.find(word), std::string::npos) << word << " in\n" << dom;
    }
    for (const char* label : {"Broker address", "TLS certificate", "Last heartbeat",
                              "Next heartbeat", "Local port", "Version", "Modules"}) {
      EXPECT_NE(dom.find(std::string("<th>") + label + "</th>"), std::string::npos) << label;
    }
    EXPECT_NE(dom.find("<td id=\"port\">" + std::to_string(server.port()) + "</td>"),
              std::string::npos);
    EXPECT_NE(dom.find("QvLoginModule.dll (missing)"), std::string::npos) << dom;
    const fs::path shot =
        Screenshot(page, c.broker_up ? "start-page-online.png" : "start-page-offline.png");
    EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 1000u) << shot;
    EXPECT_EQ(server.Terminate(), 0) << server.Output();
  }
}

TEST(CommandLine, HelpAndVersionPrintAndEndAtOnce) {
  const struct {
    const char* argument;
    const char* text;
  } cases[] = {{"--help", "Usage: peerserver -wbx [-pla]\n"}, {"--version", "peerserver 3.6.1 ("}};
  ScopedWorkDir dir;
  for (const auto& c : cases) {
    std::string output;
    EXPECT_EQ(RunCommand({PEERSERVER_PROGRAM, c.argument}, kWait, &output), 0) << c.argument;
    EXPECT_EQ(output.find(c.text), 0u) << output;
  }
  // Neither started the boot program nor made a file.
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CommandLine, OnATerminalItSaysWhereItIsAndWhatWentWrong) {
  if (FindProgram({"/usr/bin/script"}).empty()) GTEST_SKIP() << "script (util-linux) is missing";
  const std::string refused = std::to_string(FreeLoopbackPort());
  struct Case {
    bool broker_up;
    std::map<std::string, std::string> settings;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {true, {}, {"broker 127.0.0.1 (port ", "): logged in\n", "/QvDebug.log (LogLevel 3;"}},
      {false,
       {{"DeviceUID", kPeerServerDeviceUid},
        {"DeviceSID", kPeerServerDeviceSid},
        {"BrokerSecurePort", refused}},
       {"login failed: 127.0.0.1:" + refused + ": Connection refused; running offline\n"}},
      {false,
       {{"DeviceUID", kPeerServerDeviceUid},
        {"DeviceSID", kPeerServerDeviceSid},
        {"AppPath", "/nonexistent/webroot"},
        {"BrokerCAFile", "vane.ini"}},
       {"login failed: TLS: no usable CA certificate in vane.ini; running offline\n",
        "web root /nonexistent/webroot cannot be read: No such file or directory\n",
        "BrokerCAFile vane.ini holds no PEM certificate\n"}},
  };
  for (const Case& c : cases) {
    PeerServerOptions options;
    options.with_broker = c.broker_up;
    options.settings = c.settings;
    options.work_files = {{"terminal.sh", kTerminalLauncher}};
    options.launcher = {"/bin/sh", "terminal.sh"};
    PeerServer server(options);
    ASSERT_TRUE(server.ok()) << server.failure();
    const std::string start =
        "peerserver: start page http://127.0.0.1:" + std::to_string(server.port()) +
        "/index.html\n";
    // The terminal ends its lines with CR LF.
    auto output_of = [&server] {
      std::string text = server.Output();
      std::erase(text, '\r');
      return text;
    };
    // The terminal passes the lines on one by one: wait for the last.
    auto all_there = [&] {
      const std::string text = output_of();
      if (text.find(start) == std::string::npos) return false;
      for (const std::string& line : c.lines) {
        if (text.find(line) == std::string::npos) return false;
      }
      return true;
    };
    ASSERT_TRUE(WaitUntil(all_there, kWait)) << server.Output();
    const std::string output = output_of();
    EXPECT_NE(output.find("peerserver: working directory " + server.work().string()),
              std::string::npos)
        << output;
    for (const std::string& line : c.lines) {
      EXPECT_NE(output.find(line), std::string::npos) << line << " in\n" << output;
    }
    if (c.settings.contains("BrokerCAFile")) {
      // The problems are logged as failures too.
      EXPECT_NE(server.Log().find("): Start-up check: BrokerCAFile vane.ini holds no PEM"),
                std::string::npos);
      EXPECT_EQ(server.RunSecondCopy({"-wbx"}, kWait), 255);
      std::string second = ReadText(server.work().parent_path() / "second.out");
      std::erase(second, '\r');
      EXPECT_NE(second.find("peerserver: already running; its start page: http://127.0.0.1:" +
                            std::to_string(server.port()) + "/index.html\n"),
                std::string::npos)
          << second;
    }
    server.Terminate();
  }
}

// Installed into a fresh prefix and started at log-on from another
// directory: the log-on entry leads it to its working directory, where it
// logs as its vane.ini says; installing again keeps that vane.ini.
TEST(Install, TheInstalledProgramFindsItsWorkingDirectoryFromItsLogonEntry) {
  const std::string cmake = FindProgram({"/usr/bin/cmake", "/usr/local/bin/cmake"});
  if (cmake.empty()) GTEST_SKIP() << "cmake is not installed";
  ScopedWorkDir dir;
  const fs::path prefix = dir.path() / "prefix";
  const fs::path build = fs::path(PEERSERVER_PROGRAM).parent_path().parent_path();
  std::string output;
  ASSERT_EQ(
      RunCommand({cmake, "--install", build.string(), "--prefix", prefix.string()}, kWait, &output),
      0)
      << output;
  const fs::path work = prefix / "lib/quovane/work";
  // The desktop library is looked for beside the program.
  EXPECT_TRUE(fs::exists(work / "QvServer/libqvdesktop.so"));
  const std::string exec = "Exec=\"" + (work / "QvServer/peerserver").string() + "\" -wbx\n";
  EXPECT_NE(ReadText(prefix / "share/quovane/QuovaneTray.desktop").find(exec), std::string::npos);
  EXPECT_NE(ReadText(prefix / "share/systemd/user/quovane.service")
                .find("WorkingDirectory=" + work.string() + "\n"),
            std::string::npos);

  fs::create_directories(dir.path() / "config/autostart");
  fs::copy_file(prefix / "share/quovane/QuovaneTray.desktop",
                dir.path() / "config/autostart/QuovaneTray.desktop");
  fs::create_directories(dir.path() / "elsewhere");
  fs::create_directories(dir.path() / "session");
  fs::permissions(dir.path() / "session", fs::perms::owner_all);
  const std::string port = std::to_string(FreeLoopbackPort());
  std::string ini = ReadText(work / "vane.ini");
  for (const auto& [key, value] :
       {std::pair<std::string, std::string>{"LogLevel=", "3"}, {"AppPort=", port}}) {
    const size_t at = ini.find("\n" + key) + 1;
    ASSERT_NE(at, 0u) << key;
    ini.replace(at, ini.find('\n', at) - at, key + value);
  }
  WriteText(work / "vane.ini", ini);
  // Installed for its owner's eyes; one that others can read is closed at start.
  constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(fs::status(work / "vane.ini").permissions(), kOwnerOnly);
  fs::permissions(work / "vane.ini", kOwnerOnly | fs::perms::group_read | fs::perms::others_read);

  const char* tsan = std::getenv("TSAN_OPTIONS");
  std::unique_ptr<ChildProcess> program =
      ChildProcess::Start("/usr/bin/env",
                          {"-C", (dir.path() / "elsewhere").string(),
                           "XDG_CONFIG_HOME=" + (dir.path() / "config").string(),
                           "XDG_RUNTIME_DIR=" + (dir.path() / "session").string(),
                           std::string("TSAN_OPTIONS=") + (tsan != nullptr ? tsan : "") +
                               ":suppressions=" TSAN_SUPPRESSIONS,
                           (prefix / "bin/peerserver").string(), "-wbx"},
                          dir.path() / "peerserver.out");
  ASSERT_TRUE(program);
  const fs::path log = work / "QvDebug.log";
  ASSERT_TRUE(
      WaitUntil([&] { return ReadText(log).find("): LogLevel: ") != std::string::npos; }, kWait))
      << ReadText(dir.path() / "peerserver.out");
  EXPECT_NE(ReadText(log).find("): Starting QvServer\n"), std::string::npos);
  EXPECT_NE(ReadText(log).find("): Working path set from registry to : " + work.string()),
            std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir.path() / "elsewhere"));
  EXPECT_EQ(fs::status(work / "vane.ini").permissions(), kOwnerOnly);
  EXPECT_NE(ReadText(log).find("): vane.ini was readable by others: now by its owner only\n"),
            std::string::npos);
  EXPECT_NE(Get(static_cast<uint16_t>(std::stoi(port)), "/index.html").answer.find("Yxnetwork"),
            std::string::npos);
  EXPECT_EQ(program->Stop(kWait), 0);

  ASSERT_EQ(RunCommand({cmake, "--install", build.string(), "--prefix", prefix.string()}, kWait),
            0);
  EXPECT_NE(ReadText(work / "vane.ini").find("AppPort=" + port), std::string::npos);
}
