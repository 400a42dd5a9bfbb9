// Headless Chromium as the user's browser of module answers.
#include <gtest/gtest.h>

#include <string>

#include "support/chromium.h"
#include "support/peerserver_fixture.h"
#include "support/work_dir.h"

TEST(Browser, FollowsAModulesRedirectAndShowsAModulesAnswer) {
  if (ChromiumProgram().empty()) {
    GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it)";
  }
  PeerServer server({.modules = {{TEST_MODULE_DIR "/QvExampleModule.dll", "QvExampleModule.dll"},
                                 {TEST_MODULE_DIR "/QvExampleModule.dll", "QvTransferModule.dll"}},
                     .with_broker = true});
  ASSERT_TRUE(server.ok()) << server.failure();
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());

  std::string dom = DumpDom(base + "/QvTransferModule.dll?type=RequestAsset&asset=9");
  EXPECT_TRUE(Contains(dom, "<h1>Asset details</h1>"));
  // The page read Success=1 from the query it was sent to.
  EXPECT_TRUE(Contains(dom, "<span id=\"success\">yes</span>"));
  dom = DumpDom(base + "/QvExampleModule.dll?greeting=hello&from=chromium");
  EXPECT_TRUE(Contains(dom, "greeting=hello\nfrom=chromium"));
}
