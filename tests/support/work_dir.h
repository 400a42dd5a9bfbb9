// A fresh temporary directory made the working directory for one test, as
// the log and the settings live in the working directory.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_endpoint.h"

class ScopedWorkDir {
 public:
  ScopedWorkDir();
  ~ScopedWorkDir();
  ScopedWorkDir(const ScopedWorkDir&) = delete;
  ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Whole-file helpers for assertions.
std::string ReadText(const std::filesystem::path& file);
void WriteText(const std::filesystem::path& file, const std::string& text);
// A fresh directory under the system's temporary directory, named prefix
// and a random number.
std::filesystem::path MakeTempDir(const std::string& prefix);
// A settings file's text: section "Quovane" with the keys in order.
std::string IniText(const std::map<std::string, std::string>& keys);
// The working directory's vane.ini: section "Quovane", then lines as given.
void WriteIni(const std::string& lines);

// How many entries a directory holds, -1 when it cannot be read.
long EntryCount(const std::filesystem::path& directory);
// The lines of text, each without its newline (an unended last line too).
std::vector<std::string> SplitLines(std::string_view text);
// How often part occurs in text.
size_t Occurrences(std::string_view text, std::string_view part);
// Whether part occurs in text; a failed check shows the text.
::testing::AssertionResult Contains(std::string_view text, std::string_view part);
// Whether part comes to occur in what read returns within timeout; a failed
// check shows the text last read.
::testing::AssertionResult Eventually(const std::function<std::string()>& read,
                                      std::string_view part,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(30));
// Where the log line whose message is exactly message begins, npos when
// there is none (a log line is "stamp (thread): message").
size_t LogLinePosition(std::string_view log, std::string_view message);
inline bool HasLogLine(std::string_view log, std::string_view message) {
  return LogLinePosition(log, message) != std::string_view::npos;
}

// Environment variables set (or removed, for nullopt) while the object
// lives, and given back their values when it goes, whatever the test did.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};
// The proxy variables a user may have set, for a ScopedEnvironment that
// clears them.
std::map<std::string, std::optional<std::string>> NoProxyEnvironment();

// A companion program's window, in the session directory given (none: the
// one the environment names), and the lines it is sent, in order.
class CompanionWindow {
 public:
  explicit CompanionWindow(const std::string& title, const std::filesystem::path& session = {});
  bool ok() const { return window_ != nullptr; }
  std::vector<std::string> Lines() const;
  // The lines once count of them came, or those there are after 20 s.
  std::vector<std::string> Wait(size_t count) const;

 private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
  std::unique_ptr<platform::WindowEndpoint> window_;  // last: its thread adds lines
};
