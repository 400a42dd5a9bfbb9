#include "support/proxy_fixtures.h"

#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kStartWait = std::chrono::seconds(30);
constexpr int kStartAttempts = 3;  // a free port may be taken before use

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

SquidFixture::SquidFixture(const std::string& program,
                           const std::vector<std::pair<std::string, std::string>>& users)
    : PeerProcess("qvsquid-") {
  // Names squid's shared memory, so instances never meet.
  service_ = "qvsquid" + dir_.filename().string().substr(8);
  std::string passwords;
  for (const auto& [name, password] : users) {
    std::string hash;
    if (RunCommand({"/usr/bin/openssl", "passwd", "-apr1", password}, std::chrono::seconds(30),
                   &hash) != 0) {
      failure_ = "openssl passwd failed: " + hash;
      return;
    }
    passwords += name + ":" + Trimmed(hash) + "\n";
  }
  WriteText(dir_ / "passwd", passwords);
  for (int attempt = 0; attempt < kStartAttempts && !ok(); ++attempt) {
    if (Start(program)) return;
  }
}

bool SquidFixture::Start(const std::string& program) {
  const uint16_t port = FreeLoopbackPort();
  const std::string d = dir_.string();
  std::string config = "http_port 127.0.0.1:" + std::to_string(port) + "\n" + "pid_filename " + d +
                       "/squid.pid\n" + "cache_log " + d + "/cache.log\n" + "access_log " + d +
                       "/access.log\n" +
                       "cache deny all\n"
                       "cache_dir null /tmp\n"
                       "coredump_dir " +
                       d + "\n" +
                       "shutdown_lifetime 1 seconds\n"
                       "visible_hostname qvtest\n"
                       "pinger_enable off\n"
                       "acl CONNECT method CONNECT\n";
  if (fs::file_size(dir_ / "passwd") > 0) {
    config += "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + d + "/passwd\n" +
              "auth_param basic realm test\n"
              "acl authed proxy_auth REQUIRED\n"
              "http_access allow localhost authed\n";
  } else {
    config += "http_access allow localhost\n";
  }
  config += "http_access deny all\n";
  WriteText(dir_ / "squid.conf", config);
  // squid drops to the proxy user, which must reach its files.
  if (RunCommand({"/usr/bin/chown", "-R", "proxy", d}, std::chrono::seconds(30)) != 0) {
    failure_ = "chown failed";
    return false;
  }
  if (!Launch(program, {"-n", service_, "-f", d + "/squid.conf", "-N", "-d1"}, "squid.out",
              [&] { return LoopbackPortAccepts(port); }, kStartWait, {"cache.log"})) {
    return false;
  }
  port_ = port;
  return true;
}

SquidFixture::~SquidFixture() {
  StopProcess();
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/dev/shm", ignored)) {
    if (entry.path().filename().string().starts_with(service_ + "-"))
      fs::remove(entry.path(), ignored);
  }
}

std::string SquidFixture::AccessLog() const { return ReadText(dir_ / "access.log"); }

DanteFixture::DanteFixture(const std::string& program, bool username_method)
    : PeerProcess("qvdante-") {
  const std::string d = dir_.string();
  for (int attempt = 0; attempt < kStartAttempts && !ok(); ++attempt) {
    const uint16_t port = FreeLoopbackPort();
    WriteText(dir_ / "danted.conf",
              "logoutput: " + d + "/danted.log\n" + "internal: 127.0.0.1 port = " +
                  std::to_string(port) + "\n" + "external: 127.0.0.1\n" +
                  "socksmethod: " + (username_method ? "username" : "none") + "\n" +
                  "user.privileged: root\n"
                  "user.unprivileged: nobody\n"
                  "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                  "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect }\n");
    if (Launch(program, {"-f", d + "/danted.conf", "-p", d + "/danted.pid"}, "danted.out",
               [&] { return LoopbackPortAccepts(port); }, kStartWait, {"danted.log"})) {
      port_ = port;
    }
  }
}

bool EnsureSystemUser(const std::string& name, const std::string& password) {
  const std::string script = "id -u " + name +
                             " >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin " + name +
                             " && echo '" + name + ":" + password + "' | chpasswd";
  return RunCommand({"/usr/bin/flock", "/tmp/qvtest-system-user.lock", "/bin/sh", "-c", script},
                    std::chrono::seconds(60)) == 0;
}
