// The program as a user gets it: the Debian package, extracted, and
// `cmake --install` into a prefix; nothing is written where it started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kWait = std::chrono::seconds(60);
const fs::path kBuild = fs::path(PEERSERVER_PROGRAM).parent_path().parent_path();

// A user: a fresh HOME (none when empty; no XDG_STATE_HOME, no
// XDG_CONFIG_HOME) and a session directory of its own.
struct Account {
  fs::path home;
  fs::path session;  // XDG_RUNTIME_DIR
};

Account MakeAccount(const fs::path& dir) {
  Account account{dir / "home", dir / "session"};
  fs::create_directories(account.home);
  fs::create_directories(account.session);
  fs::permissions(account.session, fs::perms::owner_all);
  return account;
}

// env's arguments that run command in from as account.
std::vector<std::string> As(const Account& account, const fs::path& from,
                            const std::vector<std::string>& command) {
  std::vector<std::string> argv = {"-C", from.string(),     "-u", "XDG_STATE_HOME",
                                   "-u", "XDG_CONFIG_HOME", "-u", "DISPLAY",
                                   "-u", "WAYLAND_DISPLAY", "-u", "HOME"};
  if (!account.home.empty()) argv.push_back("HOME=" + account.home.string());
  argv.push_back("XDG_RUNTIME_DIR=" + account.session.string());
  const std::vector<std::string> sanitizers = SanitizerEnvironment();
  argv.insert(argv.end(), sanitizers.begin(), sanitizers.end());
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

// program -wbx with a terminal on its standard error.
std::vector<std::string> OnTerminal(const fs::path& program) {
  return {"/usr/bin/script", "-qefc", program.string() + " -wbx", "/dev/null"};
}

// An installed program started in from as account, until the terminal
// names the start page.
class Installed {
 public:
  Installed(const fs::path& program, const fs::path& from, const Account& account)
      : out_(from.parent_path() / (from.filename().string() + ".out")) {
    child_ = ChildProcess::Start("/usr/bin/env", As(account, from, OnTerminal(program)), out_);
    const std::string page = "peerserver: start page http://127.0.0.1:";
    WaitUntil([&] { return Terminal().find(page) != std::string::npos; }, kWait);
    const std::string said = Terminal();
    if (size_t at = said.find(page); at != std::string::npos) {
      port_ = static_cast<uint16_t>(std::atoi(said.c_str() + at + page.size()));
    }
  }
  ~Installed() { Stop(); }

  std::string Terminal() const {
    std::string text = ReadText(out_);
    std::erase(text, '\r');
    return text;
  }
  uint16_t port() const { return port_; }
  int Stop() { return child_ ? child_->Stop(kWait) : -1; }

 private:
  fs::path out_;
  std::unique_ptr<ChildProcess> child_;
  uint16_t port_ = 0;
};

// Runs command as account to its end: its status, and what it said (CR LF as LF).
int RunAs(const Account& account, const fs::path& from, const std::vector<std::string>& command,
          std::string* said) {
  std::vector<std::string> argv = As(account, from, command);
  argv.insert(argv.begin(), "/usr/bin/env");
  const int status = RunCommand(argv, kWait, said);
  std::erase(*said, '\r');
  return status;
}

std::string Said(const fs::path& where, const std::string& why) {
  return "peerserver: working in " + where.string() + ": " + why + "\n";
}

}  // namespace

TEST(Package, TheDebianPackageRunsForAnyAccountFromItsExtractedFiles) {
  const std::string cpack = FindProgram({"/usr/bin/cpack", "/usr/local/bin/cpack"});
  if (cpack.empty()) GTEST_SKIP() << "cpack (cmake) is not installed";
  if (FindProgram({"/usr/bin/script"}).empty()) GTEST_SKIP() << "script (util-linux) is missing";
  ScopedWorkDir dir;
  std::string output;
  ASSERT_EQ(RunCommand({cpack, "--config", (kBuild / "CPackConfig.cmake").string(), "-G", "DEB",
                        "-B", (dir.path() / "package").string()},
                       kWait, &output),
            0)
      << output;
  std::string deb;  // peerserver_3.6.1_<architecture>.deb
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path() / "package")) {
    if (entry.path().filename().string().starts_with("peerserver_3.6.1_")) deb = entry.path();
  }
  ASSERT_TRUE(deb.ends_with(".deb")) << output;
  std::string listing;
  ASSERT_EQ(RunCommand({"/usr/bin/dpkg-deb", "--contents", deb}, kWait, &listing), 0) << listing;
  for (const char* file :
       {"./usr/bin/peerserver -> ../lib/quovane/peerserver", "./usr/lib/quovane/peerserver\n",
        "./usr/lib/quovane/libqvdesktop.so\n", "./usr/lib/quovane/webroot/vclient/port.htx\n",
        "./usr/lib/quovane/webroot/QvDiagnosticModule.dll\n",
        "./usr/lib/quovane/QvStatusModule.dll -> webroot/QvStatusModule.dll",
        "./usr/lib/systemd/user/quovane.service\n", "./usr/share/quovane/QuovaneTray.desktop\n",
        "./usr/share/man/man1/peerserver.1.gz\n", "./usr/share/doc/peerserver/copyright\n"}) {
    EXPECT_TRUE(Contains(listing, file));
  }
  for (const char* absent : {"test", "qvbroker", "vane.ini", "/work"}) {
    EXPECT_FALSE(Contains(listing, absent));
  }
  std::string depends;
  ASSERT_EQ(RunCommand({"/usr/bin/dpkg-deb", "--field", deb, "Depends"}, kWait, &depends), 0);
  for (const char* library : {"libssl3", "libgtk-3-0", "libproxy1v5"}) {
    EXPECT_TRUE(Contains(depends, library));
  }

  const fs::path root = dir.path() / "root";
  ASSERT_EQ(RunCommand({"/usr/bin/dpkg-deb", "--extract", deb, root.string()}, kWait), 0);
  const fs::path program = root / "usr/bin/peerserver";
  const fs::path pages = root / "usr/lib/quovane/webroot";
  const Account account = MakeAccount(dir.path());
  const fs::path work = account.home / ".local/state/quovane/work";
  const fs::path empty = dir.path() / "empty";
  fs::create_directories(empty);
  {
    Installed fresh(program, empty, account);
    EXPECT_TRUE(Contains(fresh.Terminal(),
                         Said(work, "made for this account with a fresh vane.ini (no vane.ini in " +
                                        empty.string() + ")")));
    EXPECT_TRUE(Contains(Get(fresh.port(), "/index.html").answer, ReadText(pages / "index.html")));
    EXPECT_EQ(fresh.Stop(), 0);
  }
  EXPECT_EQ(fs::status(work.parent_path()).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(work / "vane.ini").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(fs::is_empty(empty));

  // A directory that holds a vane.ini is still the working directory.
  const fs::path own = dir.path() / "own";
  fs::create_directories(own);
  const std::string port = std::to_string(FreeLoopbackPort());
  WriteText(own / "vane.ini", IniText({{"AppPath", pages.string()},
                                       {"AppPort", port},
                                       {"AllowHosts", "127.0.0.1"},
                                       {"AllowFiles", "*.html"}}));
  Installed current(program, own, account);
  EXPECT_TRUE(Contains(current.Terminal(), Said(own, "the current directory holds vane.ini")));
  EXPECT_TRUE(Contains(Get(current.port(), "/index.html").answer, "Yxnetwork"));
  // A second copy, started where the account's folder would be used, names
  // the running one's page, not the port of the vane.ini it would use.
  std::string said;
  EXPECT_EQ(RunAs(account, empty, OnTerminal(program), &said), 255);
  EXPECT_TRUE(Contains(said, "peerserver: already running in " + own.string() +
                                 "; its start page: http://127.0.0.1:" + port + "/index.html\n"));
  EXPECT_EQ(current.Stop(), 0);
}

// Installed into a prefix that holds a file of another program: an older
// install's working directory beside the program is still used, no HOME
// means no working directory at all, and the uninstall target leaves the
// other program's file and the older state.
TEST(Install, IntoAPrefixItRunsAndTheUninstallTargetRemovesWhatItPutThere) {
  const std::string cmake = FindProgram({"/usr/bin/cmake", "/usr/local/bin/cmake"});
  if (cmake.empty()) GTEST_SKIP() << "cmake is not installed";
  if (FindProgram({"/usr/bin/script"}).empty()) GTEST_SKIP() << "script (util-linux) is missing";
  ScopedWorkDir dir;
  // The uninstall list of a user who installed from this build folder
  // before the test ran is theirs again afterwards.
  const fs::path list = kBuild / "installed_files.txt";
  struct KeptList {
    fs::path file;
    std::optional<std::string> text;
    ~KeptList() { text ? WriteText(file, *text) : void(fs::remove(file)); }
  } kept{list, fs::exists(list) ? std::optional(ReadText(list)) : std::nullopt};
  const fs::path prefix = dir.path() / "prefix";
  fs::create_directories(prefix / "bin");
  WriteText(prefix / "bin/other", "another program");
  std::string output;
  ASSERT_EQ(RunCommand({cmake, "--install", kBuild.string(), "--prefix", prefix.string()}, kWait,
                       &output),
            0)
      << output;
  const fs::path program = prefix / "bin/peerserver";
  EXPECT_NE(ReadText(prefix / "share/systemd/user/quovane.service")
                .find("\nExecStart=" + program.string() + " -wbx\n"),
            std::string::npos);
  EXPECT_NE(ReadText(prefix / "share/quovane/QuovaneTray.desktop")
                .find("\nExec=\"" + program.string() + "\" -wbx\n"),
            std::string::npos);
  // Once, in the web root, without debug information; device messages find it beside the program.
  const fs::path home = prefix / "lib/quovane";
  EXPECT_EQ(ReadText(home / "webroot/QvDiagnosticModule.dll").find(".debug_info"),
            std::string::npos);
  EXPECT_EQ(fs::read_symlink(home / "QvDiagnosticModule.dll"), "webroot/QvDiagnosticModule.dll");

  const Account account = MakeAccount(dir.path());
  const fs::path empty = dir.path() / "empty";
  fs::create_directories(empty);
  const Account homeless{{}, account.session};
  EXPECT_EQ(RunAs(homeless, empty, {program.string(), "-wbx"}, &output), 1);
  EXPECT_TRUE(Contains(output, "peerserver: no vane.ini in " + empty.string()));
  EXPECT_TRUE(fs::is_empty(empty));

  fs::create_directories(home / "doc");
  fs::create_directories(home / "work");
  WriteText(home / "work/vane.ini", IniText({{"AppPath", (home / "webroot").string()},
                                             {"AppPort", std::to_string(FreeLoopbackPort())}}));
  {
    Installed older(program, empty, account);
    EXPECT_TRUE(Contains(
        older.Terminal(),
        Said(home / "work",
             "the installation's own working directory holds vane.ini (an older layout)")));
    EXPECT_EQ(older.Stop(), 0);
  }
  EXPECT_FALSE(fs::exists(account.home / ".local"));
  EXPECT_TRUE(fs::is_empty(empty));

  ASSERT_EQ(
      RunCommand({cmake, "--build", kBuild.string(), "--target", "uninstall"}, kWait, &output), 0)
      << output;
  // The older install's state (work/ and ../doc) is no file of this install's.
  std::vector<std::string> left;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(prefix)) {
    const std::string path = entry.path().lexically_relative(prefix).string();
    if (!path.starts_with("lib/quovane/work") && !path.starts_with("lib/quovane/doc")) {
      left.push_back(path);
    }
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"bin", "bin/other", "lib", "lib/quovane"}));
  EXPECT_TRUE(fs::exists(home / "work/vane.ini"));
  EXPECT_TRUE(fs::exists(home / "doc/port.js"));
}
