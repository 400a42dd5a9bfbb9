// The settings file and the log of a test that makes outbound requests: it
// runs in a ScopedWorkDir, writes ".\vane.ini" with the keys it needs and
// looks for exact log lines.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class QvBrokerFixture;

// Writes the section "Quovane" with LogLevel=3 and the given keys (which
// may override it), and makes the log read its level again.
void WriteSettings(const std::map<std::string, std::string>& keys);

// The settings of a device that talks to broker: its host, plain and TLS
// ports and CA, an unregistered device "10.0.0.5-abc", proxyRecorded "1";
// extra adds keys or replaces these.
void WriteBrokerSettings(const QvBrokerFixture& broker,
                         const std::map<std::string, std::string>& extra = {});

// Log lines whose message is exactly message.
size_t LogCount(std::string_view message);
inline bool Logged(std::string_view message) { return LogCount(message) > 0; }
// True when a log line's message begins with prefix.
bool LoggedPrefix(std::string_view prefix);
// The messages of a log file, each line's stamp checked and removed.
std::vector<std::string> LogMessages(const char* file = "QvDebug.log");
