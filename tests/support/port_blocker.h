// Holds TCP ports on every local address (bound without SO_REUSEADDR, not
// listening), so that no server can bind them while the object lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class PortBlocker {
 public:
  explicit PortBlocker(const std::vector<uint16_t>& ports);
  ~PortBlocker();
  PortBlocker(const PortBlocker&) = delete;
  PortBlocker& operator=(const PortBlocker&) = delete;

  // Ports this object holds; the others were in use already (by someone
  // else, so they are taken as well).
  size_t held() const { return sockets_.size(); }

 private:
  std::vector<int> sockets_;
};
