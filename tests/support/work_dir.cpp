#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "base/log.h"
#include "platform/environment.h"
#include "support/child_process.h"

namespace fs = std::filesystem;

fs::path MakeTempDir(const std::string& prefix) {
  std::random_device random;
  for (;;) {
    fs::path path = fs::temp_directory_path() / (prefix + std::to_string(random()));
    if (fs::create_directory(path)) return path;
  }
}

namespace {

// A test program works in a folder of its own from start to exit, wherever
// it was started (the checkout, a build folder): what a test leaves in the
// working directory, or a module's library writes as the program exits,
// never lands beside the sources.
struct OwnWorkingDirectory {
  OwnWorkingDirectory() : path(MakeTempDir("qvtests-")) { fs::current_path(path); }
  ~OwnWorkingDirectory() {
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(path, ignored);
  }
  fs::path path;
};
const OwnWorkingDirectory g_own_working_directory;

}  // namespace

std::string IniText(const std::map<std::string, std::string>& keys) {
  std::string text = "[Quovane]\n";
  for (const auto& [key, value] : keys) text += key + "=" + value + "\n";
  return text;
}

void WriteIni(const std::string& lines) { WriteText("vane.ini", "[Quovane]\n" + lines); }

long EntryCount(const fs::path& directory) {
  std::error_code error;
  long count = 0;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

size_t Occurrences(std::string_view text, std::string_view part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

::testing::AssertionResult Contains(std::string_view text, std::string_view part) {
  const bool found = text.find(part) != std::string_view::npos;
  return (found ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
         << (found ? "" : "no ") << "\"" << part << "\" in:\n"
         << text;
}

::testing::AssertionResult Eventually(const std::function<std::string()>& read,
                                      std::string_view part, std::chrono::milliseconds timeout) {
  std::string text;
  WaitUntil([&] { return (text = read()).find(part) != std::string::npos; }, timeout);
  return Contains(text, part);
}

size_t LogLinePosition(std::string_view log, std::string_view message) {
  return log.find("): " + std::string(message) + "\n");
}

// The log opens its file in the working directory and reads its settings
// there once: released on every change, a test never writes into another's
// log nor at another's level.
ScopedWorkDir::ScopedWorkDir() : previous_(fs::current_path()), path_(MakeTempDir("qvtest-")) {
  QvLog::ReleaseInstance();
  fs::current_path(path_);
}

ScopedWorkDir::~ScopedWorkDir() {
  QvLog::ReleaseInstance();
  fs::current_path(previous_);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

ScopedEnvironment::ScopedEnvironment(
    const std::map<std::string, std::optional<std::string>>& values) {
  for (const auto& [name, value] : values) {
    saved_.emplace(name, platform::GetEnvironment(name));
    platform::SetEnvironment(name, value);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [name, value] : saved_) platform::SetEnvironment(name, value);
}

std::map<std::string, std::optional<std::string>> NoProxyEnvironment() {
  std::map<std::string, std::optional<std::string>> none;
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    none[name] = std::nullopt;
  }
  return none;
}

CompanionWindow::CompanionWindow(const std::string& title, const fs::path& session) {
  std::optional<ScopedEnvironment> in_session;
  if (!session.empty()) {
    in_session.emplace(
        std::map<std::string, std::optional<std::string>>{{"XDG_RUNTIME_DIR", session.string()}});
  }
  window_ = platform::WindowEndpoint::Create(title, [this](std::string line) {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(std::move(line));
  });
}

std::vector<std::string> CompanionWindow::Lines() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lines_;
}

std::vector<std::string> CompanionWindow::Wait(size_t count) const {
  WaitUntil([&] { return Lines().size() >= count; }, std::chrono::seconds(20));
  return Lines();
}
