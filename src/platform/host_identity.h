// What the system tells about this machine: the first IPv4 address of its
// host name, a time-based UUID, its link-layer adapters, a stable identity
// of the installation and the kernel version. The device's identifier and
// address are built from these (identity/device_identity.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sys_result.h"

namespace platform {

// The first IPv4 address of the local host name, dotted. On failure the
// error is the system's or the resolver's error number (never 0).
SysResult<std::string> LocalHostAddress();

// The machine's own host name as the system holds it; empty when none.
std::string LocalHostName();

// A fresh time-based UUID as its 16 bytes in text order; bytes 10-15 are
// the node, an adapter's address unless the system made one up (then the
// multicast bit, 0x01 of byte 10, is set).
std::array<uint8_t, 16> CreateTimeUuid();

struct LinkAdapter {
  std::string name;
  std::vector<uint8_t> address;  // the hardware address; may be empty
  int type = 0;                  // the link type number (ARPHRD_* on Linux)
};

// The adapters with a link-layer address, in the system's order; the
// loopback is left out, as the adapter table of the original platform has
// none. The error is the system's error number.
SysResult<std::vector<LinkAdapter>> LinkAdapters();

// A text that identifies this installation and stays the same across
// reboots (the systemd machine id); none when the system keeps none.
std::optional<std::string> MachineIdentity();

struct KernelVersion {
  int major = 0;
  int minor = 0;
};
KernelVersion GetKernelVersion();

}  // namespace platform
