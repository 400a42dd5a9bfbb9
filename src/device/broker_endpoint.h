// QvBrokerEndpoint: where the broker is. Its host, its plain HTTP port, the
// plain port in use now (which the heartbeat may move to one of up to eight
// alternative ports), and its TLS port, all loaded from the settings.
//
// The process-wide endpoint is written only by the heartbeat thread while
// other threads read it: ports are atomics, hosts are guarded texts.
#pragma once

#include <array>
#include <atomic>
#include <string>

class QvBrokerEndpoint {
 public:
  static constexpr int kAltPorts = 8;

  QvBrokerEndpoint();

  // Reads BrokerIP, SearchIP, BrokerPort, BrokerSecurePort and
  // AlternativeBrokerPorts. Always 0.
  int LoadEndpoint();

  // The i-th alternative port, or -1 for an empty slot or an index outside 0-7.
  int GetAltPort(int index) const;
  // With save set, BrokerPort is written too.
  void SetCurrentPort(int port, bool save);
  // After a success on an alternative port: that port leaves the list, the
  // previous port takes the first empty slot, and the list is saved.
  void RecordWorkingPort(int previous, int working);

  std::string GetBrokerIP() const;
  std::string GetSearchIP() const;
  int GetPort() const { return m_nPort.load(); }
  int GetCurrentPort() const { return m_nCurrentPort.load(); }
  int GetSecurePort() const { return m_nSecurePort.load(); }

 private:
  char m_szSearchIP[64];
  char m_szBrokerIP[64];
  std::atomic<int> m_nPort;
  std::atomic<int> m_nCurrentPort;
  std::atomic<int> m_nSecurePort;
  std::array<std::atomic<int>, kAltPorts> m_nAltPorts;
};
