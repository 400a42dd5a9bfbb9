#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/window_endpoint.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

// Without a runtime directory the programs meet in a shared place, but only
// in a directory of the user's own that nobody else can enter.
TEST(SessionDirectory, ASharedPlaceIsUsedOnlyWhenTheDirectoryIsPrivate) {
  ScopedWorkDir dir;
  const fs::path shared = dir.path() / "shared";
  const fs::path home = dir.path() / "home";
  fs::create_directories(shared);
  fs::create_directories(home);
  const fs::path own = shared / ("quovane-" + std::to_string(::getuid()));

  EXPECT_EQ(platform::FallbackSessionDirectory(shared, home), own.string());
  struct stat status {};
  ASSERT_EQ(::stat(own.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  // Opened to others (or planted by someone else): the home directory instead.
  ASSERT_EQ(::chmod(own.c_str(), 0777), 0);
  const fs::path fallback = home / ".quovane-session";
  EXPECT_EQ(platform::FallbackSessionDirectory(shared, home), fallback.string());
  EXPECT_TRUE(fs::is_directory(fallback));

  // A link to a directory is no directory of one's own either.
  fs::remove(own);
  fs::create_directory_symlink(home, own);
  EXPECT_EQ(platform::FallbackSessionDirectory(shared, home), fallback.string());
}
