// Real proxies for integration tests, each on a free loopback port with its
// own configuration in a temporary directory, stopped when the object goes:
// squid as an HTTP proxy (Basic authentication when users are given) and
// dante as a SOCKS 5 proxy (username/password against system users, or no
// authentication).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/peer_process.h"

class SquidFixture : public PeerProcess {
 public:
  // users: name and password pairs; none means no authentication.
  SquidFixture(const std::string& program,
               const std::vector<std::pair<std::string, std::string>>& users);
  ~SquidFixture();

  bool ok() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  // What squid logged of the requests it served.
  std::string AccessLog() const;

 private:
  bool Start(const std::string& program);

  std::string service_;
  uint16_t port_ = 0;
};

class DanteFixture : public PeerProcess {
 public:
  // username_method: RFC 1929 against system users; else no authentication.
  DanteFixture(const std::string& program, bool username_method);

  bool ok() const { return port_ != 0; }
  uint16_t port() const { return port_; }

 private:
  uint16_t port_ = 0;
};

// Creates (once, safe against tests running side by side) a system user
// without home and login shell, and sets its password. False on failure.
bool EnsureSystemUser(const std::string& name, const std::string& password);
