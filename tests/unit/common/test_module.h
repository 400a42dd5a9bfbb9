// A minimal module for exercising the base class, and helpers for reading
// the trace log that the base writes in the test's working directory.
#pragma once

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/QvPeerModule.h"
#include "common/log.h"
#include "support/work_dir.h"

class TestModule : public QvPeerModule {
 public:
  char* Execute(const char* query, void* pExtra) override {
    m_pRequest = static_cast<tagREQUEST*>(pExtra);
    if (m_pRequest == nullptr) return nullptr;
    ParseString(query);
    return nullptr;
  }
  bool DetailsMissing() const { return m_bDetailsMissing; }
};

// Writes the settings file with LogLevel=level (and more lines) and makes
// the log read it afresh.
inline void UseSettings(int level, const std::string& more = "") {
  WriteText("vane.ini", "[Quovane]\nLogLevel=" + std::to_string(level) + "\n" + more);
  QvLog::ReleaseInstance();
}

// The messages of QvDebug.log without their time and thread stamps.
inline std::vector<std::string> LogMessages() {
  std::vector<std::string> messages;
  std::istringstream lines(ReadText("QvDebug.log"));
  std::string line;
  while (std::getline(lines, line)) {
    size_t stamp = line.find("): ");
    messages.push_back(stamp == std::string::npos ? line : line.substr(stamp + 3));
  }
  return messages;
}
