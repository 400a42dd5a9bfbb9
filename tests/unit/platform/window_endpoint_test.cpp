#include "platform/window_endpoint.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/work_dir.h"

// Lines posted to a window by its title arrive in order; a title belongs to
// one live endpoint at a time and is free again once it is gone.
TEST(WindowEndpoint, DeliversPostedLinesInOrderAndHoldsItsTitle) {
  const std::filesystem::path session = MakeTempDir("qvsession-");
  {
    ScopedEnvironment environment({{"XDG_RUNTIME_DIR", session.string()}});
    const std::string title = "QvTestWindow-" + session.filename().string();
    auto endpoint = std::make_unique<CompanionWindow>(title);
    ASSERT_TRUE(endpoint->ok());
    EXPECT_TRUE(platform::WindowExists(title));
    EXPECT_EQ(platform::WindowEndpoint::Create(title, [](std::string) {}), nullptr);

    const std::vector<std::string> sent = {"WM_COMMAND 40004", "Quovane 3", "WM_CLOSE"};
    for (const std::string& line : sent) EXPECT_TRUE(platform::PostToWindow(title, line));
    EXPECT_EQ(endpoint->Wait(sent.size()), sent);
    endpoint.reset();
    EXPECT_FALSE(platform::WindowExists(title));
    EXPECT_FALSE(platform::PostToWindow(title, "WM_CLOSE"));
  }
  std::filesystem::remove_all(session);
}
