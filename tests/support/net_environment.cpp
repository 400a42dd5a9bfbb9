#include "support/net_environment.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "base/log.h"
#include "support/qvbroker_fixture.h"
#include "support/work_dir.h"

void WriteSettings(const std::map<std::string, std::string>& keys) {
  std::map<std::string, std::string> all = {{"LogLevel", "3"}};
  for (const auto& [key, value] : keys) all[key] = value;
  WriteText("vane.ini", IniText(all));
  QvLog::ReleaseInstance();
}

void WriteBrokerSettings(const QvBrokerFixture& broker,
                         const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> keys = broker.DeviceSettings();
  keys.insert({{"DeviceUID", "10.0.0.5-abc"}, {"DeviceSID", "None"}, {"proxyRecorded", "1"}});
  for (const auto& [key, value] : extra) keys[key] = value;
  WriteSettings(keys);
}

size_t LogCount(std::string_view message) {
  return Occurrences(ReadText("QvDebug.log"), "): " + std::string(message) + "\n");
}

std::vector<std::string> LogMessages(const char* file) {
  static const std::regex stamped(R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4} \( *\d+\): (.*))");
  std::vector<std::string> messages;
  std::istringstream lines(ReadText(file));
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, match, stamped)) << line;
    messages.push_back(match[1]);
  }
  return messages;
}

bool LoggedPrefix(std::string_view prefix) {
  return ReadText("QvDebug.log").find("): " + std::string(prefix)) != std::string::npos;
}
