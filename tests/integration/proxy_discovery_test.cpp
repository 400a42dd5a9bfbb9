// Proxy discovery as a user's desktop sets it up: the environment, GNOME's
// settings (the keyfile backend) or a PAC file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/peerserver_fixture.h"
#include "support/proxy_fixtures.h"
#include "support/work_dir.h"

namespace {

enum class Via { kDirect, kSquid, kDante };

class ProxyDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(SQUID_PROGRAM).empty()) GTEST_SKIP() << "squid is not installed";
    if (std::string(DANTED_PROGRAM).empty()) GTEST_SKIP() << "dante is not installed";
    squid = std::make_unique<SquidFixture>(SQUID_PROGRAM,
                                           std::vector<std::pair<std::string, std::string>>{});
    ASSERT_TRUE(squid->ok()) << squid->failure();
    dante = std::make_unique<DanteFixture>(DANTED_PROGRAM, false);
    ASSERT_TRUE(dante->ok()) << dante->failure();
    config = MakeTempDir("qv-desktop-");
  }
  void TearDown() override {
    std::error_code ignored;
    if (!config.empty()) std::filesystem::remove_all(config, ignored);
  }

  // A GNOME session whose proxy settings are these, as the keyfile backend
  // keeps them.
  std::map<std::string, std::string> Gnome(const std::string& settings) {
    const std::filesystem::path folder = config / "glib-2.0/settings";
    std::filesystem::create_directories(folder);
    WriteText(folder / "keyfile", "[system/proxy]\n" + settings);
    return {{"XDG_CONFIG_HOME", config.string()},
            {"GSETTINGS_BACKEND", "keyfile"},
            {"XDG_CURRENT_DESKTOP", "GNOME"}};
  }
  std::string Squid() const { return "127.0.0.1:" + std::to_string(squid->port()); }
  std::string Dante() const { return "127.0.0.1:" + std::to_string(dante->port()); }

  std::unique_ptr<SquidFixture> squid;
  std::unique_ptr<DanteFixture> dante;
  std::filesystem::path config;
};

}  // namespace

TEST_F(ProxyDiscoveryTest, TheLoginTakesTheRouteTheSystemNames) {
  const std::string squid_port = std::to_string(squid->port());
  const std::string manual = "mode='manual'\n[system/proxy/http]\nhost='127.0.0.1'\nport=" +
                             squid_port + "\n[system/proxy/https]\nhost='127.0.0.1'\nport=" +
                             squid_port + "\n";
  const std::string pac = (config / "proxy.pac").string();
  WriteText(pac, "function FindProxyForURL(url, host) {\n"
                 "  if (host == \"127.0.0.1\") return \"SOCKS5 " + Dante() + "\";\n"
                 "  return \"DIRECT\";\n}\n");
  struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    std::string gnome;  // GNOME's settings, when a GNOME session
    std::string source;
    std::string setting;
    Via via;
  };
  // GNOME's own default leaves loopback hosts out; these settings do not.
  // no_proxy is the unit test's: libproxy reads it before any route is taken.
  const Case cases[] = {
      {"nothing", {}, "", "none", "", Via::kDirect},
      {"environment", {{"https_proxy", "http://" + Squid()}}, "", "environment",
       "https=" + Squid(), Via::kSquid},
      {"all_proxy", {{"all_proxy", "socks5://" + Dante()}}, "", "environment",
       "socks=" + Dante(), Via::kDante},
      {"ALL_PROXY with no_proxy", {{"ALL_PROXY", "socks5://" + Dante()}, {"no_proxy", "127.0.0.1"}},
       "", "none", "", Via::kDirect},
      {"GNOME", {}, "ignore-hosts=@as []\n" + manual, "GNOME settings",
       "http=" + Squid() + ";https=" + Squid(), Via::kSquid},
      {"GNOME ignoring the broker", {}, "ignore-hosts=['127.0.0.1']\n" + manual, "none", "",
       Via::kDirect},
      {"PAC file", {}, "mode='auto'\nautoconfig-url='file://" + pac + "'\nignore-hosts=@as []\n",
       "PAC file (file://" + pac + ")", "socks=" + Dante(), Via::kDante},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PeerServer server({.modules = {{STATUS_MODULE, "QvStatusModule.dll"},
                                   {DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"}},
                       .with_broker = true,
                       .environment = c.gnome.empty() ? c.environment : Gnome(c.gnome)});
    ASSERT_TRUE(server.ok()) << server.failure();

    // Online once the first beat, sent the same way, is answered.
    std::string details;
    EXPECT_TRUE(Eventually(
        [&] { return details = Get(server.port(), "/QvStatusModule.dll?operation=details").answer; },
        "\"online\":true"))
        << server.Log();
    EXPECT_TRUE(Contains(
        details, "\"proxy\":{\"source\":\"" + c.source + "\",\"setting\":\"" + c.setting + "\"}"));
    const std::string info =
        Get(server.port(), "/QvDiagnosticModule.dll?operation=proxyinfo").answer;
    EXPECT_TRUE(Contains(info, "<td colspan=\"2\" id=\"proxySource\">" + c.source + "</td>"));

    const std::string log = server.Log();
    EXPECT_EQ(log.find("EstablishProxyConnect() sent") != std::string::npos, c.via == Via::kSquid);
    EXPECT_EQ(log.find("EstablishSocksConnect(): ack") != std::string::npos, c.via == Via::kDante);
  }
}
