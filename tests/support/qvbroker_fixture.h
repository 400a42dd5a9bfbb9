// A qvbroker for one test: started on free loopback ports in its own
// temporary directory (generated CA, request records, stored uploads),
// stopped when the object goes. The ports come from its ready file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/peer_process.h"

class QvBrokerFixture : public PeerProcess {
 public:
  // extra_args are added to the ports, CA, record and store options (for
  // example {"--fail", "Heartbeat=stall"}; with "--cert" no CA is made).
  // ok() says whether it is ready.
  QvBrokerFixture(const std::string& program, std::vector<std::string> extra_args = {});

  bool ok() const { return plain_port_ != 0; }
  uint16_t plain_port() const { return plain_port_; }
  uint16_t tls_port() const { return tls_port_; }
  std::filesystem::path ca_file() const { return dir_ / "ca.pem"; }
  // The vane.ini keys that point a device at this broker: BrokerIP,
  // BrokerPort, BrokerSecurePort and BrokerCAFile.
  std::map<std::string, std::string> DeviceSettings() const {
    return {{"BrokerIP", "127.0.0.1"},
            {"BrokerPort", std::to_string(plain_port_)},
            {"BrokerSecurePort", std::to_string(tls_port())},
            {"BrokerCAFile", ca_file().string()}};
  }
  std::filesystem::path store_dir() const { return dir_ / "store"; }

  // The recorded requests, in arrival order, byte for byte.
  std::vector<std::string> Requests() const;
  // Their first lines, in the same order.
  std::vector<std::string> RequestLines() const;
  // How many asked for a broker page ("Heartbeat"), by any route.
  size_t PageRequests(const std::string& page) const;
  // The names of the record files ("000001-plain.req"...), in order.
  std::vector<std::string> RecordNames() const;
  // An admin page's text (GET on the plain port), empty on failure.
  std::string Admin(const std::string& path_and_query) const;
  // SIGTERM; the exit status (128+signal when it had to be killed).
  int Stop();

 private:
  uint16_t plain_port_ = 0;
  uint16_t tls_port_ = 0;
};
