#include "support/net_environment.h"

#include "common/log.h"
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
  std::map<std::string, std::string> keys = {
      {"BrokerIP", "127.0.0.1"},
      {"BrokerPort", std::to_string(broker.plain_port())},
      {"BrokerSecurePort", std::to_string(broker.tls_port())},
      {"BrokerCAFile", broker.ca_file().string()},
      {"DeviceUID", "10.0.0.5-abc"},
      {"DeviceSID", "None"},
      {"proxyRecorded", "1"}};
  for (const auto& [key, value] : extra) keys[key] = value;
  WriteSettings(keys);
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
