#include "support/chromium.h"

#include <chrono>

#include "support/child_process.h"
#include "support/work_dir.h"

namespace fs = std::filesystem;

namespace {

// Runs Chromium on url with flags, in the profile given, or else in one of
// its own that goes after.
int RunChromium(const std::vector<std::string>& flags, const std::string& url,
                std::string* output, const fs::path& given_profile = {}) {
  const std::string program = ChromiumProgram();
  if (program.empty()) return -1;
  const fs::path profile = given_profile.empty() ? MakeTempDir("chromium-") : given_profile;
  std::vector<std::string> argv = {program,
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--hide-scrollbars",
                                   "--user-data-dir=" + profile.string(),
                                   "--virtual-time-budget=3000"};
  argv.insert(argv.end(), flags.begin(), flags.end());
  argv.push_back(url);
  const int status = RunCommand(argv, std::chrono::seconds(60), output);
  std::error_code ignored;
  if (given_profile.empty()) fs::remove_all(profile, ignored);
  return status;
}

}  // namespace

std::string ChromiumProgram() {
  return FindProgram({"/usr/bin/chromium", "/usr/bin/chromium-browser"});
}

std::string DumpDom(const std::string& url, const std::vector<std::string>& flags) {
  return DumpDomInProfile(url, {}, flags);
}

std::string DumpDomInProfile(const std::string& url, const fs::path& profile,
                             const std::vector<std::string>& flags) {
  std::vector<std::string> all = flags;
  all.push_back("--dump-dom");
  std::string output;
  return RunChromium(all, url, &output, profile) == 0 ? output : std::string();
}

fs::path PageScreenshot(const std::string& url, const std::string& name, int width, int height) {
  fs::create_directories(ARTIFACTS_DIR);
  const fs::path file = fs::path(ARTIFACTS_DIR) / name;
  fs::remove(file);
  RunChromium({"--window-size=" + std::to_string(width) + "," + std::to_string(height),
               "--screenshot=" + file.string()},
              url, nullptr);
  return fs::exists(file) ? file : fs::path();
}
