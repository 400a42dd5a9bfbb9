// The proxy password typed into the diagnostic page leaves no trace in a
// fresh Chromium profile: the page sends it in a fetch, never in an address.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/chromium.h"
#include "support/peerserver_fixture.h"
#include "support/proxy_fixtures.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

// Opens the diagnostic page in a window of its own, as a user would, fills
// in the form there and presses its button; says what the page showed then.
// The password is put together in the script: this page, which the browser
// may keep, must not hold it.
std::string FormFiller(const std::string& site) {
  return R"(<html><body><p id="r">pending</p><script>
const page = window.open('/QvDiagnosticModule.dll?operation=conntest&server=)" +
         site + R"(');
function shown(text) { document.getElementById('r').textContent = text; }
function whenThere(test, then) { if (test()) then(); else setTimeout(() => whenThere(test, then), 50); }
whenThere(() => page.document && page.document.readyState === 'complete' &&
                page.document.getElementById('credsForm'), () => {
  page.document.getElementById('proxyUser').value = 'alice';
  page.document.getElementById('proxyPassword').value = 's3' + 'cret';  // not in this page's text
  page.document.querySelector('#credsForm button').click();
  whenThere(() => page.document.getElementById('creds') &&
                  page.document.getElementById('creds').textContent.includes('OK'),
            () => shown(page.document.getElementById('creds').textContent + ' at ' +
                        page.location.href));
});
</script></body></html>
)";
}

// The profile's files that hold text, by name.
std::vector<std::string> FilesHolding(const fs::path& folder, const std::string& text) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    if (bytes.find(text) != std::string::npos) found.push_back(entry.path().string());
  }
  return found;
}

}  // namespace

TEST(CredentialsInBrowser, TheProxyPasswordLeavesNoTraceInTheProfile) {
  ASSERT_FALSE(ChromiumProgram().empty()) << "chromium is not installed (scripts/bootstrap)";
  ASSERT_FALSE(std::string(SQUID_PROGRAM).empty()) << "squid is not installed (scripts/bootstrap)";
  SquidFixture squid(SQUID_PROGRAM, {{"alice", "s3cret"}});
  ASSERT_TRUE(squid.ok()) << squid.failure();
  const std::string proxy = "http://127.0.0.1:" + std::to_string(squid.port());
  PeerServer server({.settings = {{"DiagnosticTimeout", "1000"}},
                     .modules = {{DIAGNOSTIC_MODULE, "QvDiagnosticModule.dll"}},
                     .with_broker = true,
                     .environment = {{"http_proxy", proxy}, {"https_proxy", proxy}}});
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string site = "127.0.0.1:" + std::to_string(server.broker()->plain_port());
  WriteText(server.root() / "fill.html", FormFiller(site));

  const fs::path profile = MakeTempDir("chromium-profile-");
  const std::string dom =
      DumpDomInProfile("http://127.0.0.1:" + std::to_string(server.port()) + "/fill.html", profile,
                       {"--disable-popup-blocking"});
  // The answer is shown, under the page's own address.
  EXPECT_TRUE(Contains(
      dom, "<p id=\"r\">submitted &amp; OK at http://127.0.0.1:" + std::to_string(server.port()) +
               "/QvDiagnosticModule.dll?operation=conntest&amp;server=" + site + "</p>"));
  EXPECT_EQ(FilesHolding(profile, "s3cret"), std::vector<std::string>{});
  std::error_code ignored;
  fs::remove_all(profile, ignored);
}
