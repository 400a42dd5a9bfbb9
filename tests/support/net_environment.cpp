#include "support/net_environment.h"

#include "common/log.h"
#include "support/work_dir.h"

void WriteSettings(const std::map<std::string, std::string>& keys) {
  std::map<std::string, std::string> all = {{"LogLevel", "3"}};
  for (const auto& [key, value] : keys) all[key] = value;
  std::string text = "[Quovane]\n";
  for (const auto& [key, value] : all) text += key + "=" + value + "\n";
  WriteText("vane.ini", text);
  QvLog::ReleaseInstance();
}

size_t LogCount(std::string_view message) {
  const std::string log = ReadText("QvDebug.log");
  const std::string needle = "): " + std::string(message) + "\n";
  size_t count = 0;
  for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

bool LoggedPrefix(std::string_view prefix) {
  return ReadText("QvDebug.log").find("): " + std::string(prefix)) != std::string::npos;
}
