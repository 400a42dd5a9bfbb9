#include "device/broker_endpoint.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "base/guarded_text.h"
#include "base/settings.h"

namespace {

int DecimalPort(const std::string& text) { return std::atoi(text.c_str()); }

}  // namespace

QvBrokerEndpoint::QvBrokerEndpoint()
    : m_szSearchIP{}, m_szBrokerIP{}, m_nPort(-1), m_nCurrentPort(-1), m_nSecurePort(-1) {
  for (std::atomic<int>& slot : m_nAltPorts) slot.store(-1);
}

int QvBrokerEndpoint::LoadEndpoint() {
  QvSettings* settings = QvSettings::GetInstance();
  WriteGuarded(m_szBrokerIP, settings->BrokerIP());
  WriteGuarded(m_szSearchIP, settings->SearchIP());
  int port = DecimalPort(settings->BrokerPort());
  m_nPort.store(port);
  m_nCurrentPort.store(port);
  m_nSecurePort.store(DecimalPort(settings->BrokerSecurePort()));
  settings->SearchPort();  // read, as always, and not kept

  for (std::atomic<int>& slot : m_nAltPorts) slot.store(-1);
  std::string list = settings->AlternativeBrokerPorts();
  if (list == "0") return 0;
  std::string_view rest = list;
  for (int slot = 0; slot < kAltPorts && !rest.empty(); ++slot) {
    size_t end = rest.find(';');
    std::string item(rest.substr(0, end));
    m_nAltPorts[static_cast<size_t>(slot)].store(DecimalPort(item));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return 0;
}

std::string QvBrokerEndpoint::GetBrokerIP() const { return ReadGuarded(m_szBrokerIP); }

std::string QvBrokerEndpoint::GetSearchIP() const { return ReadGuarded(m_szSearchIP); }

int QvBrokerEndpoint::GetAltPort(int index) const {
  if (index < 0 || index >= kAltPorts) return -1;
  return m_nAltPorts[static_cast<size_t>(index)].load();
}

void QvBrokerEndpoint::SetCurrentPort(int port, bool save) {
  m_nCurrentPort.store(port);
  if (save) QvSettings::GetInstance()->WriteSetting("BrokerPort", std::to_string(port));
}

void QvBrokerEndpoint::RecordWorkingPort(int previous, int working) {
  for (std::atomic<int>& slot : m_nAltPorts) {
    if (slot.load() == working) slot.store(-1);
  }
  if (previous != -1) {
    for (std::atomic<int>& slot : m_nAltPorts) {
      if (slot.load() == -1) {
        slot.store(previous);
        break;
      }
    }
  }
  std::string list;
  for (const std::atomic<int>& slot : m_nAltPorts) {
    int port = slot.load();
    if (port == -1) continue;
    std::string item = (list.empty() ? "" : ";") + std::to_string(port);
    if (list.size() + item.size() > 63) break;
    list += item;
  }
  QvSettings::GetInstance()->WriteSetting("AlternativeBrokerPorts", list);
}
